import QtQuick 2.15
import QtTest 1.2
import QtMultimedia 5.15
import Kestrova 1.0

// The concrete surfaces, made by the real surface factory from the compiled-in documents,
// on media made in the content folder when the test starts.
TestCase {
    id: testCase
    name: "Surfaces"
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
        id: spyComponent
        SignalSpy {}
    }

    // What a layer hears from its surface.
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
        var tools = [
            ["convert", ["-size", "64x48", "xc:red", "red.png"]],
            ["convert", ["-size", "64x48", "xc:blue", "blue.png"]],
            ["convert", ["-size", "64x48", "xc:yellow", "fresh.png"]],
            ["convert", ["-delay", "10", "-size", "32x32", "xc:lime", "xc:red", "-loop", "0", "fresh.gif"]],
            ["convert", ["-delay", "10", "-size", "32x32", "xc:red", "xc:lime", "xc:blue", "-loop", "0", "frames.gif"]],
            ["gst-launch-1.0", ["-q", "audiotestsrc", "num-buffers=20", "!", "audioconvert", "!", "wavenc",
                                "!", "filesink", "location=tone.wav"]],
        ]
        for (var i = 0; i < tools.length; ++i)
            compare(testContent.run(tools[i][0], tools[i][1]), 0, tools[i][0] + " " + tools[i][1].join(" "))
        verify(testContent.writeFile("slides/noise.wav", "not a sound at all"))
    }

    function cleanupTestCase() {
        setRotation(0)
    }

    // Every surface goes back to the factory and is gone before the next test.
    function cleanup() {
        var surfaces = made
        made = []
        for (var i = 0; i < surfaces.length; ++i)
            realSurfaceFactory.destroySurface(surfaces[i])
        // A deleted item's wrapper is left without its properties.
        for (var j = 0; j < surfaces.length; ++j)
            tryVerify(function() { return surfaces[j].objectName === undefined }, 5000, "surface not deleted")
    }

    function setRotation(angle) {
        if (Viewer.rotation === angle)
            return
        verify(testContent.writeFile(".rotation", String(angle / 90)))
        tryCompare(Viewer, "rotation", angle, 5000)
    }

    function makeAsset(kind, source) {
        return createTemporaryObject(assetComponent, testCase, { tag: kind + ":" + source, kind: kind, source: source })
    }

    // A surface for the kind with a layer listening to it; the asset is set last, as a
    // real layer does it.
    function makeSurface(kind, source, layer) {
        var surface = realSurfaceFactory.createSurface(kind, stage)
        verify(surface, "no surface for " + kind)
        made.push(surface)
        surface.parentLayer = layer || createTemporaryObject(listeningLayer, testCase)
        if (layer)
            layer.surface = surface
        surface.width = stage.width
        surface.height = stage.height
        surface.asset = makeAsset(kind, source)
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

    function test_picturesLoadThenRender_data() {
        return [
            // Pictures no other test shows, so not in the image cache yet.
            { tag: "image", kind: "image", source: "fresh.png", content: "imageOutput",
              states: ["LOADING", "RENDERING", "READY"] },
            // An animated picture in a local file is read at once.
            { tag: "animated image", kind: "animated-image", source: "fresh.gif", content: "animatedImage",
              states: ["RENDERING", "READY"] },
        ]
    }

    function test_picturesLoadThenRender(data) {
        var first = makeSurface(data.kind, data.source)
        tryCompare(first, "state", "READY", 5000)
        compare(first.parentLayer.states, data.states)
        var content = child(first, data.content)
        compare(first.content, content)
        verify(content.visible)
        compare(content.status, Image.Ready)

        // The same picture again is in the image cache: shown without loading.
        var again = makeSurface(data.kind, data.source)
        compare(again.state, "RENDERING")
        tryCompare(again, "state", "READY", 5000)
        compare(again.parentLayer.states, ["RENDERING", "READY"])

        // Told to play, a picture has nothing to play and is stopped at once.
        again.play()
        compare(again.state, "STOPPED")
        compare(again.parentLayer.states.slice(-2), ["PLAYING", "STOPPED"])
    }

    function test_missingPictureFailsItsLayer_data() {
        return [
            { tag: "image", kind: "image", source: "missing.png" },
            { tag: "animated image", kind: "animated-image", source: "missing.gif" },
            { tag: "not a picture", kind: "image", source: "tone.wav" },
        ]
    }

    function test_missingPictureFailsItsLayer(data) {
        ignoreWarning(new RegExp("Failed to load image file://.*/" + data.source.replace(".", "\\.") + "\\."))
        var layer = createTemporaryObject(layerComponent, testCase)
        var stopped = createTemporaryObject(spyComponent, testCase, { target: layer, signalName: "stopped" })
        layer.status = layer.kLoading
        var surface = makeSurface(data.kind, data.source, layer)
        tryCompare(surface, "state", "FAILED", 5000)
        compare(layer.status, layer.kError)
        compare(stopped.count, 1)
    }

    function test_animationRestarts_data() {
        return [
            { tag: "playMedia", call: "playMedia" },
            { tag: "rewindMedia", call: "rewindMedia" },
        ]
    }

    function test_animationRestarts(data) {
        var surface = makeSurface("animated-image", "frames.gif")
        tryCompare(surface, "state", "READY", 5000)
        var animation = child(surface, "animatedImage")
        compare(animation.frameCount, 3)
        verify(animation.playing)
        verify(!animation.paused)

        animation.paused = true
        animation.currentFrame = 2
        surface[data.call]()
        compare(animation.currentFrame, 0)
        verify(animation.playing)
        verify(!animation.paused)
    }

    function test_screenshotIsReadyAtOnceAndKeepsItsPicture() {
        var surface = makeSurface("screenshot", "")
        compare(surface.state, "RENDERING")
        tryCompare(surface, "state", "READY", 5000)
        var picture = child(surface, "imageOutput")
        compare(surface.content, picture)
        compare(picture.source.toString(), "")

        playbackControl.screenshotUpdated(7)
        compare(picture.source.toString(), "image://screenshot/7")
        compare(surface.state, "READY")
        playbackControl.screenshotUpdated(8)
        compare(picture.source.toString(), "image://screenshot/7")
    }

    function test_cleanupIsDoneOnce_data() {
        return [
            { tag: "image", kind: "image", source: "red.png" },
            { tag: "animated image", kind: "animated-image", source: "frames.gif" },
            { tag: "screenshot", kind: "screenshot", source: "" },
            { tag: "audio", kind: "audio", source: "tone.wav" },
        ]
    }

    function test_cleanupIsDoneOnce(data) {
        var surface = makeSurface(data.kind, data.source)
        made = []
        var done = createTemporaryObject(spyComponent, testCase, { target: surface, signalName: "cleanupDone" })
        realSurfaceFactory.destroySurface(surface)
        realSurfaceFactory.destroySurface(surface)
        compare(done.count, 1)
        compare(done.signalArguments[0][0], surface)
        verify(surface.cleaningUp)
        tryVerify(function() { return surface.objectName === undefined }, 5000, "surface not deleted")
    }

    function test_audioShowsItsPicture() {
        var surface = makeSurface("audio", "tone.wav")
        tryVerify(function() { return surface.state === "RENDERING" || surface.state === "READY" }, 10000)
        var picture = child(surface, "imageOutput")
        compare(surface.content, picture)
        verify(picture.visible)
        compare(picture.status, Image.Ready)
        compare(picture.source.toString(), "qrc:/resources/audio.jpg")
        verify(!child(surface, "videoOutput").visible)

        // The picture's dark background is what is on screen.
        waitForRendering(surface)
        var shot = grabImage(surface)
        var corner = shot.pixel(4, 4)
        verify(corner.r < 0.2 && corner.g < 0.2 && corner.b < 0.3, "corner is " + corner)
    }

    function test_audioPlaysAndPauses() {
        var surface = makeSurface("audio", "tone.wav")
        tryVerify(function() { return surface.state === "RENDERING" || surface.state === "READY" }, 10000)
        var player = child(surface, "player")
        surface.playMedia()
        tryCompare(player, "playbackState", MediaPlayer.PlayingState, 5000)
        surface.stopMedia()
        tryCompare(player, "playbackState", MediaPlayer.PausedState, 5000)
        surface.rewindMedia()
        tryCompare(player, "position", 0, 5000)
    }

    function test_unplayableAudioFails_data() {
        return [
            { tag: "missing", source: "missing.wav" },
            { tag: "not a sound", source: "noise.wav" },
        ]
    }

    function test_unplayableAudioFails(data) {
        var surface = makeSurface("audio", data.source)
        tryCompare(surface, "state", "FAILED", 10000)
    }

    function test_rotationFollowsTheViewer_data() {
        return [
            { tag: "image", kind: "image", source: "blue.png", angle: 90, content: "imageOutput" },
            { tag: "animated image", kind: "animated-image", source: "frames.gif", angle: 90, content: "animatedImage" },
            { tag: "audio", kind: "audio", source: "tone.wav", angle: 90, content: "imageOutput" },
            // A screenshot already shows the rotated screen.
            { tag: "screenshot", kind: "screenshot", source: "", angle: 0 },
        ]
    }

    function test_rotationFollowsTheViewer(data) {
        setRotation(90)
        var surface = makeSurface(data.kind, data.source)
        compare(surface.transform[0].angle, data.angle)
        if (data.content) {
            // Sideways, the content takes the surface's height as its width.
            var content = child(surface, data.content)
            compare(content.width, surface.height)
            compare(content.height, surface.width)
        }
        setRotation(180)
        compare(surface.transform[0].angle, data.angle === 0 ? 0 : 180)
        setRotation(0)
        compare(surface.transform[0].angle, 0)
    }
}
