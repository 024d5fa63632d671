import QtQuick 2.2
import Kestrova 1.0

// An animated GIF; it starts from its first frame when the build is shown.
Slide {
    builds: [
        Build {
            duration: 9
            layer: Layer {
                asset: Asset { tag: "spinner"; kind: "animated-image"; name: "Animated GIF"; source: "media/spinner.gif" }
                PauseAnimation { duration: 9000 }
            }
        }
    ]
}
