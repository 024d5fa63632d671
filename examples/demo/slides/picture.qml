import QtQuick 2.2
import Kestrova 1.0

// Two builds show the same PNG. Their assets share a tag, so while the first build plays
// the second one is prepared to take its picture surface over: the picture stays on
// screen without loading again, and a caption slides in over it.
Slide {
    builds: [
        Build {
            duration: 8
            layer: Layer {
                asset: Asset { tag: "picture"; kind: "image"; name: "PNG picture"; source: "media/picture.png" }
                PauseAnimation { duration: 8000 }
            }
        },
        Build {
            duration: 8
            layer: Layer {
                asset: Asset { tag: "picture"; kind: "image"; name: "PNG picture with caption"; source: "media/picture.png" }

                // Above the picture surface, which comes into this layer last. Turned like
                // the surfaces when the screen is rotated.
                Layer {
                    z: 1

                    Item {
                        anchors.centerIn: parent
                        width: Viewer.rotation % 180 ? parent.height : parent.width
                        height: Viewer.rotation % 180 ? parent.width : parent.height
                        rotation: Viewer.rotation

                        Rectangle {
                            id: band
                            anchors.left: parent.left
                            anchors.right: parent.right
                            anchors.bottom: parent.bottom
                            anchors.bottomMargin: -height
                            height: 180
                            color: "#cc21263b"

                            Text {
                                anchors.centerIn: parent
                                width: parent.width - 80
                                horizontalAlignment: Text.AlignHCenter
                                wrapMode: Text.WordWrap
                                text: "Same picture, second build: its surface was taken over, not reloaded"
                                color: "white"
                                font.family: "DejaVu Sans"
                                font.pixelSize: 44
                            }
                        }
                    }
                }

                SequentialAnimation {
                    PauseAnimation { duration: 500 }
                    NumberAnimation {
                        target: band; property: "anchors.bottomMargin"; from: -band.height; to: 0
                        duration: 1000; easing.type: Easing.OutCubic
                    }
                    PauseAnimation { duration: 6500 }
                }
            }
        }
    ]
}
