import QtQuick 2.2
import Kestrova 1.0

// The playlist gives this slide the predicate "never": the viewer passes it over.
Slide {
    builds: [
        Build {
            duration: 8
            layer: Layer {
                asset: Asset { tag: "scheduled-off"; kind: "image"; name: "Scheduled off"; source: "media/scheduled-off.png" }
                PauseAnimation { duration: 8000 }
            }
        }
    ]
}
