import QtQuick 2.15
import QtTest 1.2
import Kestrova 1.0

// The GStreamer video surface, made by the real surface factory, on clips made in the
// content folder when the test starts.
TestCase {
    id: testCase
    name: "VideoSurface"
    when: windowShown
    visible: true
    width: 320
    height: 180

    property var made: []

    Item {
        id: stage
        width: 320
        height: 180
    }

    Component {
        id: assetComponent
        Asset {}
    }

    Component {
        id: listeningLayer
        QtObject {
            property var states: []
            function childSurfaceStatusChanged(surface) { states.push(surface.state) }
        }
    }

    Component {
        id: layerComponent
        Layer {}
    }

    function initTestCase() {
        Util.setViewer(Viewer)
        var clip = ["-q", "videotestsrc", "num-buffers=90", "pattern=ball", "!",
                    "video/x-raw,width=320,height=180,framerate=30/1,format=I420", "!",
                    "x264enc", "speed-preset=ultrafast", "!", "mp4mux", "!", "filesink", "location=clip.mp4"]
        compare(testContent.run("gst-launch-1.0", clip), 0, "gst-launch-1.0 " + clip.join(" "))
        verify(testContent.writeFile("slides/corrupt.mp4", "not a video at all"))
    }

    function cleanup() {
        testContent.releaseFifos()
        var surfaces = made
        made = []
        for (var i = 0; i < surfaces.length; ++i)
            realSurfaceFactory.destroySurface(surfaces[i])
        for (var j = 0; j < surfaces.length; ++j)
            tryVerify(function() { return surfaces[j].objectName === undefined }, 5000, "surface not deleted")
    }

    function makeAsset(source) {
        return createTemporaryObject(assetComponent, testCase, { tag: "video:" + source, kind: "video", source: source })
    }

    function makeSurface(source, layer) {
        var surface = realSurfaceFactory.createSurface("video", stage)
        verify(surface, "no video surface")
        made.push(surface)
        surface.parentLayer = layer || createTemporaryObject(listeningLayer, testCase)
        surface.width = stage.width
        surface.height = stage.height
        surface.asset = makeAsset(source)
        return surface
    }

    function child(surface, name) {
        for (var i = 0; i < surface.children.length; ++i)
            if (surface.children[i].objectName === name)
                return surface.children[i]
        for (var j = 0; j < surface.resources.length; ++j)
            if (surface.resources[j].objectName === name)
                return surface.resources[j]
        fail("no " + name + " in " + surface)
    }

    function test_videoBuffersRendersAndPlays() {
        var surface = makeSurface("clip.mp4")
        compare(surface.state, "LOADING")
        tryCompare(surface, "state", "READY", 10000)
        compare(surface.parentLayer.states, ["LOADING", "RENDERING", "READY"])
        verify(surface.isBuffered)
        var output = child(surface, "videoOutput")
        compare(surface.content, output)
        verify(output.visible)

        surface.playMedia()
        compare(surface.state, "PLAYING")
    }

    // The next build's layer takes the playing surface over and sets an equal asset.
    function test_takenOverVideoIsLeftPlaying() {
        var surface = makeSurface("clip.mp4")
        tryCompare(surface, "state", "READY", 10000)
        surface.playMedia()
        var player = child(surface, "player")
        var uri = player.uri
        var states = surface.parentLayer.states.length

        surface.parentLayer = createTemporaryObject(listeningLayer, testCase)
        surface.asset = makeAsset("clip.mp4")
        compare(surface.state, "PLAYING")
        compare(player.uri, uri)
        compare(surface.parentLayer.states, [])
        wait(300)
        compare(surface.state, "PLAYING")
    }

    function test_corruptVideoFailsItsLayer() {
        var layer = createTemporaryObject(layerComponent, testCase)
        layer.status = layer.kLoading
        var surface = makeSurface("corrupt.mp4", layer)
        layer.surface = surface
        tryCompare(surface, "state", "FAILED", 10000)
        compare(layer.status, layer.kError)
    }

    // A pipe nobody writes to: the player never buffers, and the surface shows it anyway
    // after ten ticks of its loading timer.
    function test_videoThatNeverBuffersIsShownAfterTwoSeconds() {
        verify(testContent.holdOpenFifo("stalled.mp4"))
        ignoreWarning("Video buffering timed out")
        var surface = makeSurface("stalled.mp4")
        compare(surface.state, "LOADING")
        wait(1700)
        compare(surface.state, "LOADING")
        tryCompare(surface, "state", "READY", 2000)
        compare(surface.loadingTime, 2000)
        compare(surface.parentLayer.states, ["LOADING", "RENDERING", "READY"])
    }
}
