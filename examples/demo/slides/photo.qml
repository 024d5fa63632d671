import QtQuick 2.2
import Kestrova 1.0

// A JPEG, zoomed in slowly over the whole build.
Slide {
    builds: [
        Build {
            duration: 8
            layer: Layer {
                id: photo
                asset: Asset { tag: "photo"; kind: "image"; name: "JPEG photo"; source: "media/photo.jpg" }
                NumberAnimation { target: photo; property: "scale"; from: 1.0; to: 1.12; duration: 8000 }
            }
        }
    ]
}
