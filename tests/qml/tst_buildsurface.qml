import QtQuick 2.2
import QtTest 1.2
import Kestrova 1.0
import "qrc:/qml" as ViewerQml

// The viewer's build surface: load status from the layers of the build it shows, playing
// state, and what it reports through cppStatusChanged.
TestCase {
    id: testCase
    name: "BuildSurface"

    readonly property string kNull: "00 Null"
    readonly property string kLoading: "01 Loading"
    readonly property string kError: "02 Error"
    readonly property string kReady: "03 Ready"

    Component {
        id: spyComponent
        SignalSpy {}
    }

    Component {
        id: surfaceComponent
        ViewerQml.BuildSurface {}
    }

    // A root layer with a video and a sublayer with an image; `animationMillis` above 0
    // gives the root layer an animation that keeps the build playing.
    Component {
        id: twoLayerBuild
        Build {
            id: build
            property int animationMillis: 0
            duration: 30
            layer: Layer {
                id: root
                asset: Asset { tag: "clip"; kind: "video" }
                NumberAnimation {
                    target: root; property: "rotation"; from: 0; to: 1
                    duration: build.animationMillis
                }
                Layer { asset: Asset { tag: "logo"; kind: "image" } }
            }
        }
    }

    function initTestCase() {
        Util.setViewer(Viewer)
        Util.setSurfaceRect(1920, 1080)
    }

    function spyOn(target, signalName) {
        return createTemporaryObject(spyComponent, testCase, { target: target, signalName: signalName })
    }

    function newBuild(animationMillis) {
        return createTemporaryObject(twoLayerBuild, testCase, { animationMillis: animationMillis || 0 })
    }

    function statuses(spy) {
        var result = []
        for (var i = 0; i < spy.signalArguments.length; ++i)
            result.push(spy.signalArguments[i][0])
        return result
    }

    // A surface showing a prepared build whose layer surfaces are all ready.
    function readySurface(build) {
        var surface = createTemporaryObject(surfaceComponent, testCase, { build: build })
        surface.prepare(null)
        var layers = build.layer.getLayersFlatten()
        for (var i = 0; i < layers.length; ++i)
            layers[i].surface.state = "READY"
        compare(surface.status, kReady)
        return surface
    }

    function test_statusFollowsTheLayers_data() {
        return [
            { tag: "all ready", states: ["READY", "READY"], status: kReady,
              reported: [kLoading, kReady] },
            { tag: "rendering or stopped surfaces count as ready", states: ["RENDERING", "STOPPED"],
              status: kReady, reported: [kLoading, kReady] },
            { tag: "root ready, sublayer loading", states: ["READY", "LOADING"], status: kLoading,
              reported: [kLoading] },
            { tag: "sublayer fails", states: ["READY", "FAILED"], status: kError,
              reported: [kLoading, kError], failedLayer: 1 },
            { tag: "root fails while the sublayer loads", states: ["FAILED", "LOADING"], status: kError,
              reported: [kLoading, kError], failedLayer: 0 },
        ]
    }

    function test_statusFollowsTheLayers(data) {
        var build = newBuild()
        var surface = createTemporaryObject(surfaceComponent, testCase)
        var spy = spyOn(surface, "cppStatusChanged")
        compare(surface.status, kNull)
        compare(surface.state, "STOPPED")

        surface.build = build
        compare(build.layer.parent, surface)
        compare(surface.status, kNull, "a new build waits for prepare")

        surface.prepare(null)
        compare(surface.status, kLoading)
        // Something on screen when the error comes must stop.
        surface.state = "PLAYING"

        var layers = build.layer.getLayersFlatten()
        if (data.failedLayer !== undefined)
            ignoreWarning(new RegExp("^Error loading <.*> due to layer <.*" + layers[data.failedLayer].asset.tag))
        for (var i = 0; i < layers.length; ++i)
            layers[i].surface.state = data.states[i]

        compare(surface.status, data.status)
        compare(statuses(spy), data.reported)
        compare(surface.state, data.status === kError ? "STOPPED" : "PLAYING")
    }

    function test_assignmentKeepsAReadyStatus() {
        var first = newBuild()
        var surface = readySurface(first)
        var spy = spyOn(surface, "cppStatusChanged")

        var second = newBuild()
        surface.build = second
        compare(surface.status, kReady, "only prepare and clearing the build change it")
        compare(second.layer.parent, surface)
        compare(first.layer.parent, null)
        compare(surface.previousBuild, second)

        // The same assets: the layers take the first build's ready surfaces over.
        surface.prepare(first)
        compare(surface.status, kReady)

        surface.build = null
        compare(surface.status, kNull)
        compare(second.layer.parent, null)
        compare(statuses(spy), [kLoading, kReady, kNull])
    }

    function test_play() {
        var build = newBuild(60000)
        var surface = readySurface(build)
        compare(surface.getRemainingDuration(), 0, "not playing")

        var before = timeline.timestamp()
        surface.play()
        var after = timeline.timestamp()
        compare(surface.state, "PLAYING")
        verify(surface.startedAt >= before && surface.startedAt <= after, surface.startedAt)
        verify(build.layer.getAnimations()[0].running)

        var remaining = surface.getRemainingDuration()
        verify(remaining > 0 && remaining <= 30000, remaining)
        // Overrun: the surface reports how far.
        surface.startedAt = timeline.timestamp() - 35000
        verify(surface.getRemainingDuration() <= -5000, surface.getRemainingDuration())
    }

    function test_layerStopped_data() {
        return [
            { tag: "root layer ends the build", sublayer: false, state: "STOPPED" },
            { tag: "a sublayer does not", sublayer: true, state: "PLAYING" },
        ]
    }

    function test_layerStopped(data) {
        var build = newBuild(60000)
        var surface = readySurface(build)
        surface.play()
        var layer = data.sublayer ? build.layer.sublayers[0] : build.layer
        layer.stopped(layer)
        compare(surface.state, data.state)
    }

    function test_rootLayerStopsWhenItsAnimationsEnd() {
        var build = newBuild(60000)
        var surface = readySurface(build)
        surface.play()
        build.layer.getAnimations()[0].complete()
        compare(surface.state, "STOPPED")
    }

    function test_stop() {
        var build = newBuild(60000)
        var surface = readySurface(build)
        surface.play()
        var media = build.layer.surface

        surface.stop()
        compare(surface.state, "STOPPED")
        verify(!build.layer.getAnimations()[0].running)
        compare(media.stopMediaCalls, 1)
        compare(surface.getRemainingDuration(), 0)

        var empty = createTemporaryObject(surfaceComponent, testCase)
        empty.stop()
        compare(empty.state, "STOPPED")
    }

    function test_deactivate() {
        var build = newBuild(60000)
        var surface = readySurface(build)
        surface.play()

        surface.deactivate()
        compare(surface.state, "STOPPED")
        var layers = build.layer.getLayersFlatten()
        for (var i = 0; i < layers.length; ++i) {
            compare(layers[i].status, "00 Null")
            compare(layers[i].surface, null)
        }

        var empty = createTemporaryObject(surfaceComponent, testCase)
        empty.state = "PLAYING"
        empty.deactivate()
        compare(empty.state, "STOPPED")
    }
}
