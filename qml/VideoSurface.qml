import QtQuick 2.15
import com.kestrova.player 1.0
import org.freedesktop.gstreamer.GLVideoItem 1.0
import Kestrova 1.0

// Video through the GStreamer player. The player prerolls by itself once it has a file
// and an output; the surface waits for full buffering, or two seconds at most.
MediaSurface {
    id: surface

    property bool isBuffered: false
    property int loadingTime: 0
    readonly property int maxLoadingTime: 2000

    repaintTimer.interval: 50

    Player {
        id: player
        objectName: "player"
        onError: {
            player.cleanup()
            surface.state = "FAILED"
        }
    }

    GstGLVideoItem {
        id: videoOutput
        objectName: "videoOutput"
        visible: true
        anchors.centerIn: parent
        width: Util.isVerticalOrientation() ? parent.height : parent.width
        height: Util.isVerticalOrientation() ? parent.width : parent.height
    }

    Timer {
        id: loadingTimer
        objectName: "loadingTimer"
        interval: 200
        repeat: true
        onTriggered: {
            surface.loadingTime += interval
            if (player.bufferingProgress() === 100) {
                console.log("Video is buffered. Preparing to play.")
                surface.isBuffered = true
                stop()
                surface.render()
            } else if (surface.loadingTime >= surface.maxLoadingTime) {
                console.warn("Video buffering timed out")
                surface.isBuffered = true
                surface.render()
                stop()
            }
        }
    }

    onAssetChanged: {
        if (!asset)
            return
        Util.assert(asset.kind === "video", "VideoSurface given a " + asset.kind + " asset")
        // Taken over by the next build's layer: the video keeps playing untouched.
        if (player.uri.toString() !== "")
            return
        setContent(videoOutput)
        player.audioOutput = Viewer.audioOutput()
        player.uri = Viewer.resolvePathToAsset(asset.source)
        player.output = videoOutput
        if (player.bufferingProgress() === 100) {
            isBuffered = true
            render()
        } else {
            state = "LOADING"
            loadingTimer.restart()
        }
    }

    function render() {
        console.debug("Rendering " + asset.stringify())
        _render()
        repaintTimer.restart()
    }

    function playMedia() {
        player.play()
        _play()
    }

    function stopMedia() {
        player.pause()
    }

    function rewindMedia() {
        player.rewind()
    }
}
