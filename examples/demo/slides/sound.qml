import QtQuick 2.2
import Kestrova 1.0

// Audio: the viewer shows its loudspeaker picture while the tone plays. The build starts
// the sound itself; a bar below fills up over the build's duration.
Slide {
    builds: [
        Build {
            duration: 9
            layer: Layer {
                id: sound
                asset: Asset { tag: "tone"; kind: "audio"; name: "Tone"; source: "media/tone.ogg" }

                // Above the audio surface, which comes into this layer last. Turned like the
                // surfaces when the screen is rotated.
                Layer {
                    z: 1

                    Item {
                        id: frame
                        anchors.centerIn: parent
                        width: Viewer.rotation % 180 ? parent.height : parent.width
                        height: Viewer.rotation % 180 ? parent.width : parent.height
                        rotation: Viewer.rotation

                        Text {
                            anchors.horizontalCenter: parent.horizontalCenter
                            y: parent.height * 0.12
                            width: parent.width - 80
                            horizontalAlignment: Text.AlignHCenter
                            wrapMode: Text.WordWrap
                            text: "Kestrova demo — audio"
                            color: "white"
                            font.family: "DejaVu Sans"
                            font.bold: true
                            font.pixelSize: 110
                        }
                        Text {
                            anchors.horizontalCenter: parent.horizontalCenter
                            y: parent.height * 0.78
                            width: parent.width - 80
                            horizontalAlignment: Text.AlignHCenter
                            wrapMode: Text.WordWrap
                            text: "a six-second tone (Ogg Vorbis) made with GStreamer"
                            color: "#98a1c3"
                            font.family: "DejaVu Sans"
                            font.pixelSize: 48
                        }
                        Rectangle {
                            id: progress
                            anchors.bottom: parent.bottom
                            height: 16
                            width: 0
                            color: "#7e2bd0"
                        }
                    }
                }

                SequentialAnimation {
                    ScriptAction { script: { sound.rewindMedia(); sound.playMedia() } }
                    NumberAnimation { target: progress; property: "width"; from: 0; to: frame.width; duration: 9000 }
                }
            }
        }
    ]
}
