import QtQuick 2.2
import Kestrova 1.0

// A VP8 video in WebM. The next slide is a picture, so this also shows the step from a
// video to an image.
Slide {
    builds: [
        Build {
            duration: 8
            layer: Layer {
                id: bars
                asset: Asset { tag: "bars"; kind: "video"; name: "VP8 video"; source: "media/bars.webm" }
                SequentialAnimation {
                    ScriptAction { script: bars.playMedia() }
                    PauseAnimation { duration: 8000 }
                }
            }
        }
    ]
}
