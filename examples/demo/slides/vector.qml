import QtQuick 2.2
import Kestrova 1.0

// An SVG drawing, rendered at the size of the screen.
Slide {
    builds: [
        Build {
            duration: 8
            layer: Layer {
                asset: Asset { tag: "vector"; kind: "image"; name: "SVG drawing"; source: "kestrova.svg" }
                PauseAnimation { duration: 8000 }
            }
        }
    ]
}
