import QtQuick 2.15
import Kestrova 1.0

// An animated picture (GIF and the like), started from its first frame when it is shown.
MediaSurface {
    id: surface

    Rectangle {
        anchors.fill: parent
        color: "black"
    }

    AnimatedImage {
        id: animatedImage
        objectName: "animatedImage"
        anchors.centerIn: parent
        width: Util.isVerticalOrientation() ? parent.height : parent.width
        height: Util.isVerticalOrientation() ? parent.width : parent.height
        autoTransform: true
        fillMode: Image.PreserveAspectFit
        visible: true
        cache: true
        asynchronous: true
        smooth: true
        playing: false
        paused: true

        onStatusChanged: surface._contentStatusChanged()
    }

    onAssetChanged: {
        if (!asset)
            return
        Util.assert(asset.kind === "animated-image", "AnimatedImageSurface given a " + asset.kind + " asset")
        setContent(animatedImage)
        animatedImage.source = Viewer.resolvePathToAsset(asset.source)
        if (animatedImage.status === Image.Loading || animatedImage.status === Image.Error) {
            state = "LOADING"
            // A file that can't be read may fail during the assignment, before "LOADING".
            if (animatedImage.status === Image.Error)
                _contentStatusChanged()
        } else {
            render()
        }
    }

    function _contentStatusChanged() {
        if (content !== animatedImage || state !== "LOADING")
            return
        if (animatedImage.status === Image.Ready) {
            render()
        } else if (animatedImage.status === Image.Error) {
            console.warn("Failed to load image " + animatedImage.source + ".")
            state = "FAILED"
        }
    }

    function restartAnimation() {
        animatedImage.playing = true
        animatedImage.paused = false
        animatedImage.currentFrame = 0
    }

    function render() {
        _render()
        repaintTimer.restart()
        restartAnimation()
    }

    function play() {
        _play()
        console.info("Playing animated image " + animatedImage.source)
        state = "STOPPED"
    }

    function playMedia() {
        restartAnimation()
    }

    function rewindMedia() {
        restartAnimation()
    }
}
