import QtQuick 2.2
import Kestrova 1.0

// A transition made from a screenshot: the top layer shows the last frame of the build
// before this one and slides it away to the left, uncovering the picture beneath.
Slide {
    builds: [
        Build {
            duration: 9
            layer: Layer {
                asset: Asset { tag: "reveal"; kind: "image"; name: "Picture under the screenshot"; source: "media/reveal.png" }

                Layer {
                    id: outgoing
                    z: 1
                    asset: Asset { tag: "screenshot"; kind: "screenshot"; name: "Last frame of the previous build" }
                }

                SequentialAnimation {
                    PauseAnimation { duration: 300 }
                    NumberAnimation {
                        target: outgoing; property: "x"; from: 0; to: -outgoing.width
                        duration: 1800; easing.type: Easing.InOutCubic
                    }
                    PauseAnimation { duration: 6900 }
                }
            }
        }
    ]
}
