import QtQuick 2.2
import QtTest 1.2
import Kestrova 1.0

// The preparation protocol of layers: surfaces created through the stand-in factory,
// taken over between builds, status from the surface state, and playing animations.
TestCase {
    id: testCase
    name: "Layer"

    readonly property string kNull: "00 Null"
    readonly property string kReady: "01 Ready"
    readonly property string kLoading: "02 Loading"
    readonly property string kError: "03 Error"

    Component {
        id: spyComponent
        SignalSpy {}
    }

    // One layer showing one asset.
    Component {
        id: singleBuild
        Build {
            id: build
            property string tag: "clip"
            property string assetKind: "video"
            layer: Layer {
                asset: Asset { tag: build.tag; kind: build.assetKind; source: "clip.mp4" }
            }
        }
    }

    // The same asset twice in one tree.
    Component {
        id: twinBuild
        Build {
            layer: Layer {
                Layer { asset: Asset { tag: "clip"; kind: "video" } }
                Layer { asset: Asset { tag: "clip"; kind: "video" } }
            }
        }
    }

    Component {
        id: emptyBuild
        Build {
            layer: Layer {}
        }
    }

    Component {
        id: animatedBuild
        Build {
            id: build
            property int outerDuration: 0
            property int innerDuration: 0
            layer: Layer {
                id: outer
                asset: Asset { tag: "outer"; kind: "image" }
                NumberAnimation { target: outer; property: "rotation"; from: 0; to: 1; duration: build.outerDuration }
                QtObject { objectName: "not an animation" }
                Layer {
                    id: inner
                    asset: Asset { tag: "inner"; kind: "image" }
                    NumberAnimation { target: inner; property: "rotation"; from: 0; to: 1; duration: build.innerDuration }
                }
            }
        }
    }

    Component {
        id: labelledTree
        Layer {
            property string label: "root"
            Layer {
                property string label: "a"
                Layer { property string label: "a1" }
            }
            Item {}
            Layer { property string label: "b" }
        }
    }

    Component {
        id: buildHolder
        Item {
            property var build: null
            property alias innerLayer: inner
            Layer {
                Layer { id: inner }
            }
        }
    }

    function initTestCase() {
        Util.setViewer(Viewer)
        Util.setSurfaceRect(1920, 1080)
    }

    function cleanup() {
        Util.setSurfaceRect(1920, 1080)
        webSettings.clearCalls()
    }

    function spyOn(target, signalName) {
        return createTemporaryObject(spyComponent, testCase, { target: target, signalName: signalName })
    }

    // A build whose layer is ready, showing its surface in the given state.
    function shownBuild(tag, state) {
        var build = createTemporaryObject(singleBuild, testCase, { tag: tag })
        build.layer.prepare(null)
        build.layer.surface.state = state
        build.layer.activate()
        return build
    }

    function test_takeOverKeepsTheSurface() {
        var current = shownBuild("clip", "PLAYING")
        var surface = current.layer.surface
        compare(current.layer.status, kReady)

        var next = createTemporaryObject(singleBuild, testCase, { tag: "clip" })
        next.layer.prepare(current)
        compare(next.layer.surface, surface, "the same surface, not a new one")
        verify(!next.layer.ownsSurface)
        compare(next.layer.markLayer, current.layer)
        compare(current.layer.thiefLayer, next.layer)
        compare(next.layer.status, kReady, "a playing surface is ready at once")
        // Until the swap the surface stays on screen in the current build.
        compare(surface.parent, current.layer)
        compare(surface.parentLayer, current.layer)

        next.layer.activate()
        verify(next.layer.ownsSurface)
        compare(next.layer.markLayer, null)
        compare(surface.parent, next.layer)
        compare(surface.parentLayer, next.layer)
        compare(surface.asset, next.layer.asset)
        compare(current.layer.surface, null)
        compare(current.layer.thiefLayer, null)

        current.layer.deactivate()
        compare(current.layer.status, kNull)
        verify(!current.layer.ownsSurface)
        verify(!surface.cleaningUp, "the old layer leaves a taken-over surface alone")
        verify(surface.enabled)
        compare(next.layer.surface, surface)

        // Its new owner does destroy it.
        next.layer.deactivate()
        verify(surface.cleaningUp)
        verify(!surface.enabled)
        compare(next.layer.surface, null)
        verify(!next.layer.ownsSurface)
    }

    function test_takeOverCondition_data() {
        return [
            { tag: "same tag, playing", nextTag: "clip", state: "PLAYING", takesOver: true },
            { tag: "same tag, rendering", nextTag: "clip", state: "RENDERING", takesOver: true },
            { tag: "same tag, stopped", nextTag: "clip", state: "STOPPED", takesOver: true },
            { tag: "other tag", nextTag: "other", state: "PLAYING", takesOver: false },
            { tag: "current still loading", nextTag: "clip", state: "LOADING", takesOver: false },
            { tag: "current failed", nextTag: "clip", state: "FAILED", takesOver: false },
            { tag: "already taken by another build", nextTag: "clip", state: "PLAYING", marked: true, takesOver: false },
        ]
    }

    function test_takeOverCondition(data) {
        var current = shownBuild("clip", data.state)
        var surface = current.layer.surface
        if (data.marked) {
            var other = createTemporaryObject(singleBuild, testCase, { tag: "clip" })
            other.layer.prepare(current)
            compare(other.layer.surface, surface)
        }

        var next = createTemporaryObject(singleBuild, testCase, { tag: data.nextTag })
        next.layer.prepare(current)
        verify(next.layer.surface)
        compare(next.layer.surface === surface, data.takesOver)
        compare(next.layer.ownsSurface, !data.takesOver)
        compare(next.layer.markLayer, data.takesOver ? current.layer : null)
        if (!data.takesOver)
            compare(next.layer.surface.createdForKind, "video")
    }

    function test_sameTagTwiceInTheNextBuild() {
        var current = shownBuild("clip", "PLAYING")
        var surface = current.layer.surface

        var next = createTemporaryObject(twinBuild, testCase)
        next.layer.prepare(current)
        var first = next.layer.sublayers[0]
        var second = next.layer.sublayers[1]
        compare(first.surface, surface)
        compare(first.markLayer, current.layer)
        verify(second.surface)
        verify(second.surface !== surface)
        verify(second.ownsSurface)
        compare(second.markLayer, null)

        next.layer.activate()
        compare(first.surface, surface)
        verify(first.ownsSurface)
        verify(second.surface !== surface)
    }

    function test_layerWithoutAsset() {
        var build = createTemporaryObject(emptyBuild, testCase)
        build.layer.prepare(null)
        compare(build.layer.status, kReady)
        compare(build.layer.surface, null)
        verify(!build.layer.ownsSurface)
        build.layer.activate()
        build.layer.deactivate()
        compare(build.layer.status, kNull)
    }

    function test_noSurfaceForAnUnknownKind() {
        ignoreWarning("Unknown surface type: intro")
        var build = createTemporaryObject(singleBuild, testCase, { assetKind: "intro" })
        build.layer.prepare(null)
        compare(build.layer.surface, null)
        verify(!build.layer.ownsSurface)
        compare(build.layer.status, kReady, "a layer without a surface counts as ready")
    }

    function test_statusFollowsTheSurface_data() {
        return [
            { tag: "LOADING", states: ["LOADING"], status: kLoading, stops: false },
            { tag: "READY", states: ["READY"], status: kReady, stops: false },
            { tag: "PLAYING", states: ["PLAYING"], status: kReady, stops: false },
            { tag: "STOPPED", states: ["STOPPED"], status: kReady, stops: false },
            { tag: "RENDERING", states: ["RENDERING"], status: kReady, stops: false },
            { tag: "FAILED", states: ["FAILED"], status: kError, stops: true },
            { tag: "loading, then rendering", states: ["RENDERING", "LOADING", "READY"], status: kReady, stops: false },
            { tag: "failure after ready is not looked at", states: ["READY", "FAILED"], status: kReady, stops: false },
        ]
    }

    function test_statusFollowsTheSurface(data) {
        var build = createTemporaryObject(singleBuild, testCase)
        var layer = build.layer
        var stoppedSpy = spyOn(layer, "stopped")
        layer.prepare(null)
        compare(layer.surface.state, "LOADING")
        compare(layer.status, kLoading)

        for (var i = 0; i < data.states.length; ++i)
            layer.surface.state = data.states[i]
        compare(layer.status, data.status)
        compare(stoppedSpy.count, data.stops ? 1 : 0)
        if (data.stops)
            compare(stoppedSpy.signalArguments[0][0], layer)
    }

    function test_surfaceOfAnotherLayerIsNotLookedAt() {
        var build = createTemporaryObject(singleBuild, testCase)
        build.layer.prepare(null)
        var stranger = createTemporaryObject(singleBuild, testCase)
        stranger.layer.prepare(null)
        build.layer.childSurfaceStatusChanged(stranger.layer.surface)
        stranger.layer.surface.state = "READY"
        build.layer.childSurfaceStatusChanged(stranger.layer.surface)
        compare(build.layer.status, kLoading)
    }

    function test_newSurface_data() {
        return [
            { tag: "web", kind: "web", calls: ["setupWebSettings", "installRequestInterceptor"] },
            { tag: "edge-app", kind: "edge-app", calls: ["setupWebSettings"] },
            { tag: "image", kind: "image", calls: [] },
        ]
    }

    function test_newSurface(data) {
        Util.setSurfaceRect(800, 600)
        var build = createTemporaryObject(singleBuild, testCase, { assetKind: data.kind })
        var asset = build.layer.asset
        asset.source = "https://example.com/"
        asset.headers = { "X-Test": "1" }
        asset.include_metadata = true
        build.layer.prepare(null)

        var surface = build.layer.surface
        compare(surface.createdForKind, data.kind)
        compare(surface.parentLayer, build.layer)
        compare(surface.parent, build.layer)
        compare(surface.asset, asset)
        verify(build.layer.ownsSurface)
        compare(build.layer.width, 800)
        compare(build.layer.height, 600)
        compare(surface.width, 800)
        compare(surface.height, 600)

        var calls = webSettings.calls
        compare(calls.map(function (call) { return call.call }), data.calls)
        for (var i = 0; i < calls.length; ++i) {
            compare(calls[i].surface, surface)
            // The profile and interceptor must be in place before the surface gets its asset.
            verify(!calls[i].assetWasSet, calls[i].call + " after the asset was set")
            if (calls[i].call === "installRequestInterceptor") {
                compare(calls[i].url, "https://example.com/")
                compare(calls[i].headers, { "X-Test": "1" })
                compare(calls[i].includeMetadata, true)
            }
        }
    }

    function test_opacityWhilePrepared() {
        var build = createTemporaryObject(singleBuild, testCase)
        build.layer.opacity = 0.25
        build.layer.prepare(null)
        compare(build.layer.initialOpacity, 0.25)
        compare(build.layer.opacity, 1, "rendered ahead of time while prepared")
        build.layer.activate()
        compare(build.layer.opacity, 0.25)

        // A later preparation keeps the opacity the slide gave.
        build.layer.deactivate()
        build.layer.prepare(null)
        compare(build.layer.initialOpacity, 0.25)
        compare(build.layer.opacity, 1)
    }

    function test_play_data() {
        return [
            { tag: "zero durations only", outer: 0, inner: 0, animates: false },
            { tag: "one animation takes time", outer: 0, inner: 30, animates: true },
        ]
    }

    function test_play(data) {
        var build = createTemporaryObject(animatedBuild, testCase,
                                          { outerDuration: data.outer, innerDuration: data.inner })
        var outer = build.layer
        var inner = outer.sublayers[0]
        outer.prepare(null)
        var outerTransitions = spyOn(outer.surface, "inTransitionChanged")
        var innerTransitions = spyOn(inner.surface, "inTransitionChanged")
        var stoppedSpy = spyOn(outer, "stopped")

        outer.play()
        compare(outer.surface.inTransition, data.animates)
        compare(inner.surface.inTransition, data.animates)
        tryCompare(stoppedSpy, "count", 1)
        compare(stoppedSpy.signalArguments[0][0], outer)
        var animations = outer.getAnimations()
        for (var i = 0; i < animations.length; ++i)
            verify(!animations[i].running)
        verify(!outer.surface.inTransition)
        verify(!inner.surface.inTransition)
        // No transition mode at all when nothing takes time; in and out otherwise.
        compare(outerTransitions.count, data.animates ? 2 : 0)
        compare(innerTransitions.count, data.animates ? 2 : 0)
        verify(!outer.surface.shouldShowAnimations)
    }

    function test_stopEndsTheAnimations() {
        var build = createTemporaryObject(animatedBuild, testCase,
                                          { outerDuration: 600000, innerDuration: 600000 })
        var outer = build.layer
        outer.prepare(null)
        var stoppedSpy = spyOn(outer, "stopped")
        outer.play()
        verify(outer.surface.inTransition)
        compare(stoppedSpy.count, 0)

        outer.stop()
        verify(stoppedSpy.count > 0)
        var animations = outer.getAnimations()
        for (var i = 0; i < animations.length; ++i)
            verify(!animations[i].running)
        verify(!outer.surface.inTransition)
    }

    function test_playWithoutAnimations_data() {
        return [
            { tag: "with a surface", component: singleBuild },
            { tag: "without a surface", component: emptyBuild },
        ]
    }

    function test_playWithoutAnimations(data) {
        var build = createTemporaryObject(data.component, testCase)
        build.layer.prepare(null)
        var stoppedSpy = spyOn(build.layer, "stopped")
        build.layer.play()
        compare(stoppedSpy.count, 1, "the build ends at once")
        compare(stoppedSpy.signalArguments[0][0], build.layer)
        if (build.layer.surface)
            verify(build.layer.surface.shouldShowAnimations)
    }

    function test_treeWalks() {
        var root = createTemporaryObject(labelledTree, testCase)
        compare(root.getLayersFlatten().map(function (layer) { return layer.label }), ["root", "a", "a1", "b"])

        var build = createTemporaryObject(animatedBuild, testCase)
        var animations = build.layer.getAnimations()
        compare(animations.length, 2)
        verify(animations.every(function (animation) { return animation.objectName !== "not an animation" }))
    }

    function test_getBuild() {
        var build = createTemporaryObject(emptyBuild, testCase)
        var holder = createTemporaryObject(buildHolder, testCase, { build: build })
        compare(holder.innerLayer.getBuild(), build)
        compare(build.layer.getBuild(), null, "a layer outside any build surface")
    }

    function test_mediaCallsReachTheSurface() {
        var build = createTemporaryObject(singleBuild, testCase)
        build.layer.playMedia()  // no surface yet: nothing to do
        build.layer.prepare(null)
        build.layer.playMedia()
        build.layer.stopMedia()
        build.layer.stopMedia()
        build.layer.rewindMedia()
        compare(build.layer.surface.playMediaCalls, 1)
        compare(build.layer.surface.stopMediaCalls, 2)
        compare(build.layer.surface.rewindMediaCalls, 1)
    }

    function test_stringify() {
        var empty = createTemporaryObject(emptyBuild, testCase)
        empty.layer.prepare(null)
        compare(empty.layer.stringify(), "<" + empty.layer + " frame: (0, 0, 1920, 1080) status: 01 Ready>")

        var current = shownBuild("clip", "PLAYING")
        var next = createTemporaryObject(singleBuild, testCase)
        next.layer.prepare(current)
        var text = next.layer.stringify()
        verify(text.indexOf(" asset: " + next.layer.asset.stringify()) !== -1, text)
        verify(text.indexOf(" surface: " + current.layer.surface.stringify()) !== -1, text)
        verify(text.indexOf(" markLayer: " + current.layer + ">") !== -1, text)
        verify(current.layer.stringify().indexOf(" thiefLayer: " + next.layer + ">") !== -1)
    }
}
