import QtQuick 2.15
import Kestrova 1.0

// A still picture. A picture already in the image cache is shown without "LOADING".
MediaSurface {
    id: surface

    Rectangle {
        anchors.fill: parent
        color: "black"
    }

    Image {
        id: imageOutput
        objectName: "imageOutput"
        anchors.centerIn: parent
        width: Util.isVerticalOrientation() ? parent.height : parent.width
        height: Util.isVerticalOrientation() ? parent.width : parent.height
        autoTransform: true
        fillMode: Image.PreserveAspectFit
        visible: true
        cache: true
        asynchronous: true
        smooth: true

        onStatusChanged: surface._contentStatusChanged()
    }

    onAssetChanged: {
        if (!asset)
            return
        Util.assert(asset.kind === "image", "ImageSurface given a " + asset.kind + " asset")
        setContent(imageOutput)
        imageOutput.source = Viewer.resolvePathToAsset(asset.source)
        if (imageOutput.status === Image.Loading || imageOutput.status === Image.Error) {
            state = "LOADING"
            // A file that can't be read may fail during the assignment, before "LOADING".
            if (imageOutput.status === Image.Error)
                _contentStatusChanged()
        } else {
            render()
        }
    }

    function _contentStatusChanged() {
        if (content !== imageOutput || state !== "LOADING")
            return
        if (imageOutput.status === Image.Ready) {
            render()
        } else if (imageOutput.status === Image.Error) {
            console.warn("Failed to load image " + imageOutput.source + ".")
            state = "FAILED"
        }
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
