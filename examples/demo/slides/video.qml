import QtQuick 2.2
import Kestrova 1.0

// Two builds of one H.264 video. The first starts it; the second shows an asset with the
// same tag, so it takes the playing video surface over: the video runs on without a
// restart while a caption comes in.
Slide {
    builds: [
        Build {
            duration: 7
            layer: Layer {
                id: first
                asset: Asset { tag: "ball"; kind: "video"; name: "H.264 video"; source: "media/ball.mp4" }
                SequentialAnimation {
                    ScriptAction { script: { first.rewindMedia(); first.playMedia() } }
                    PauseAnimation { duration: 7000 }
                }
            }
        },
        Build {
            duration: 7
            layer: Layer {
                asset: Asset { tag: "ball"; kind: "video"; name: "H.264 video, continued"; source: "media/ball.mp4" }

                Layer {
                    z: 1

                    Text {
                        id: caption
                        anchors.horizontalCenter: parent.horizontalCenter
                        y: parent.height * 0.08
                        opacity: 0
                        rotation: Viewer.rotation
                        text: "Second build, same video: it keeps playing"
                        color: "white"
                        style: Text.Outline
                        styleColor: "#80000000"
                        font.family: "DejaVu Sans"
                        font.bold: true
                        font.pixelSize: 56
                    }
                }

                SequentialAnimation {
                    NumberAnimation { target: caption; property: "opacity"; from: 0; to: 1; duration: 800 }
                    PauseAnimation { duration: 6200 }
                }
            }
        }
    ]
}
