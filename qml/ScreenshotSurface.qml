import QtQuick 2.15
import Kestrova 1.0

// The picture of the outgoing build, taken just before this surface plays. Ready at
// once; keeps the first screenshot it is told about. Never rotated: the screenshot
// already is.
MediaSurface {
    id: surface

    repaintTimer.interval: 0

    Image {
        id: imageOutput
        objectName: "imageOutput"
        width: sourceSize.width
        height: sourceSize.height
        visible: true
        cache: false
        asynchronous: false
    }

    Connections {
        target: playbackControl
        function onScreenshotUpdated(id) {
            console.log("Screenshot updated.")
            if (imageOutput.source.toString() !== "")
                return
            imageOutput.source = "image://screenshot/" + id
            surface.state = "READY"
        }
    }

    onAssetChanged: {
        setContent(imageOutput)
        render()
    }

    function render() {
        _render()
        repaintTimer.restart()
    }

    function play() {
        _play()
        state = "STOPPED"
    }
}
