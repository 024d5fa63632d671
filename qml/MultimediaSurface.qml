import QtQuick 2.15
import QtMultimedia 5.15
import Kestrova 1.0

// Audio, and video when QtMultimedia is chosen to play it. Audio shows a fixed picture.
MediaSurface {
    id: surface

    MediaPlayer {
        id: player
        objectName: "player"

        onStatusChanged: {
            switch (status) {
            case MediaPlayer.Buffered:
                console.log("Media buffered.")
                surface.render()
                break
            case MediaPlayer.Loaded:
                console.log("Media loaded.")
                surface._render()
                player.pause()
                break
            case MediaPlayer.EndOfMedia:
                console.log("Media playback finished.")
                break
            case MediaPlayer.InvalidMedia:
                console.log("Invalid media file: " + source)
                surface.state = "FAILED"
                break
            case MediaPlayer.UnknownStatus:
                console.log("Unknown status of media.")
                break
            default: // Loading, Buffering
                break
            }
        }

        onError: {
            console.log("Error occured when trying to play multimedia file: " + errorString)
            surface.state = "FAILED"
        }
    }

    VideoOutput {
        id: videoOutput
        objectName: "videoOutput"
        source: player
        anchors.centerIn: parent
        width: Util.isVerticalOrientation() ? parent.height : parent.width
        height: Util.isVerticalOrientation() ? parent.width : parent.height
        flushMode: VideoOutput.FirstFrame
    }

    Image {
        id: imageOutput
        objectName: "imageOutput"
        source: "qrc:/resources/audio.jpg"
        anchors.centerIn: parent
        width: Util.isVerticalOrientation() ? parent.height : parent.width
        height: Util.isVerticalOrientation() ? parent.width : parent.height
        fillMode: Image.PreserveAspectFit
        asynchronous: false
        smooth: true
    }

    onAssetChanged: {
        if (!asset)
            return
        var isVideo = asset.kind === "video"
        Util.assert(isVideo || asset.kind === "audio", "MultimediaSurface given a " + asset.kind + " asset")
        setContent(isVideo ? videoOutput : imageOutput)
        videoOutput.visible = isVideo
        imageOutput.visible = !isVideo
        player.source = Viewer.resolvePathToAsset(asset.source)
        state = "LOADING"
    }

    function render() {
        console.debug("Rendering " + asset.stringify())
        _render()
        repaintTimer.restart()
    }

    function playMedia() {
        player.play()
    }

    function stopMedia() {
        player.pause()
    }

    function rewindMedia() {
        player.seek(0)
    }
}
