import QtQuick 2.2
import Kestrova 1.0

// One node of a build's layer tree. A layer may show an asset through a media surface and
// may hold animations (as resources). While one build is on screen the next one is
// prepared: a layer whose asset has the same tag as a ready layer of the build on screen
// marks that layer's surface and takes it over on activation, so a playing video or a
// loaded page carries on instead of loading again.
Item {
    id: layer

    objectName: "Layer"
    clip: true
    // Read once at creation; see Util.setSurfaceRect.
    width: Util.surfaceWidth
    height: Util.surfaceHeight

    property Asset asset: null
    // Own or marked for taking over; `ownsSurface` says whether this layer destroys it.
    property MediaSurface surface: null
    property bool ownsSurface: false
    // Layer of the build on screen whose surface this layer will take over.
    property Layer markLayer: null
    // Layer of the next build that will take this layer's surface over.
    property Layer thiefLayer: null
    property var sublayers
    property var sublayersFlatten
    property var animationsFlatten
    // The opacity the slide gave the layer, remembered at the first preparation.
    property real initialOpacity: -1

    readonly property string kNull: "00 Null"
    readonly property string kReady: "01 Ready"
    readonly property string kLoading: "02 Loading"
    readonly property string kError: "03 Error"
    property string status: kLoading

    property bool _animationsConnected: false

    signal animationStopped()
    signal stopped(var layer)
    // Emitted by the surface whenever its state changes.
    signal childSurfaceStatusChanged(var aSurface)

    onChildSurfaceStatusChanged: function (aSurface) {
        if (aSurface === surface)
            checkStatus()
    }

    onAnimationStopped: {
        var animations = getAnimations()
        for (var i = 0; i < animations.length; ++i) {
            if (animations[i].running)
                return
        }
        didAnimate()
        stopped(layer)
    }

    Component.onCompleted: {
        var layers = []
        for (var i = 0; i < children.length; ++i) {
            if (children[i].objectName === "Layer")
                layers.push(children[i])
        }
        sublayers = layers
    }

    function prepare(previousBuild) {
        _prepare(previousBuild)
        for (var i = 0; i < sublayers.length; ++i)
            sublayers[i].prepare(previousBuild)
        checkStatus()
    }

    function _prepare(previousBuild) {
        if (initialOpacity === -1)
            initialOpacity = opacity
        // Fully opaque while prepared, so the content is rendered ahead of time.
        if (initialOpacity < 1)
            opacity = 1

        if (!asset) {
            status = kReady
            return
        }

        if (surface)
            console.warn(stringify() + " failed to destroy")
        Util.assert(!surface, "Failed to destroy previous surface")
        Util.assert(!markLayer, "Already have a mark")

        var candidate = null
        if (previousBuild && previousBuild.layer) {
            candidate = Util._.find(previousBuild.layer.getLayersFlatten(), function (other) {
                return asset.equals(other.asset) && other.canSteal()
            })
        }

        status = kLoading
        if (candidate)
            prepareToStealFrom(candidate)
        else
            _createSurface()
    }

    function activate() {
        opacity = initialOpacity
        if (markLayer)
            steal()
        for (var i = 0; i < sublayers.length; ++i)
            sublayers[i].activate()
    }

    function deactivate() {
        if (surface) {
            console.info("Deactivate called on the layer. About to destroy surface: " + surface)
            if (ownsSurface)
                _destroySurface()
            else
                console.info("Deactivate called but we do not own the surface.")
            surface = null
        }
        ownsSurface = false
        if (status !== kNull)
            status = kNull
    }

    function canSteal() {
        return !!surface && !thiefLayer && status === kReady
    }

    // Points this layer at the surface of `sourceLayer`. The surface stays where it is, in
    // the build on screen, until activate() moves it over.
    function prepareToStealFrom(sourceLayer) {
        Util.assert(sourceLayer, "stealing from nothing")
        Util.assert(sourceLayer !== layer, "stealing from myself")
        Util.assert(sourceLayer.surface, "stealing nothing")
        console.debug("Preparing to steal from " + sourceLayer.stringify())
        markLayer = sourceLayer
        markLayer.thiefLayer = layer
        surface = markLayer.surface
        ownsSurface = false
        checkStatus()
    }

    function steal() {
        Util.assert(markLayer, "No layer to steal from")
        Util.assert(surface, "No surface prepared for stealing")
        Util.assert(markLayer.surface === surface, "markLayer.surface mysteriously changed")
        Util.assert(markLayer.thiefLayer === layer, "Surface stolen by someone else")
        Util.assert(surface.asset, "Stealing a surface with no asset.")
        Util.assert(asset.tag === surface.asset.tag, "Stealing wrong asset")
        Util.assert(!ownsSurface, "Somehow I already own a surface")
        console.info("Stealing asset: " + surface.asset.stringify())
        surfaceFactory.setSurfaceParentItem(surface, layer)
        ownsSurface = true
        surface.asset = asset
        surface.parentLayer = layer
        // The old layer forgets the surface, so its deactivate() leaves it alone.
        markLayer.surface = null
        markLayer.thiefLayer = null
        markLayer = null
    }

    function _createSurface() {
        Util.assert(asset, "_createSurface without an asset")
        Util.assert(!surface, "_createSurface overwriting a surface")
        surface = surfaceFactory.createSurface(asset.kind, layer)
        if (!surface) {
            console.error("Failed to create a surface for the build")
            return
        }
        surface.parentLayer = layer
        // The web profile has to exist before any request interceptor goes onto it, and
        // an edge-app surface installs its interceptor as soon as it gets its asset.
        if (asset.kind === "web" || asset.kind === "edge-app")
            webSettings.setupWebSettings(surface)
        if (asset.kind === "web")
            webSettings.installRequestInterceptor(surface, asset.source, asset.headers, asset.include_metadata)
        surface.asset = asset
        surface.width = width
        surface.height = height
        ownsSurface = true
    }

    function _destroySurface() {
        if (!surface)
            return
        console.info(stringify() + " destroying surface")
        surface.enabled = false
        surfaceFactory.destroySurface(surface)
        surface = null
    }

    function checkStatus() {
        if (status !== kLoading)
            return
        // A taken-over surface may already be rendering or stopped.
        var state = surface ? surface.state : ""
        if (!surface || state === "READY" || state === "PLAYING" || state === "STOPPED" || state === "RENDERING") {
            status = kReady
        } else if (state === "FAILED") {
            stopped(layer)
            status = kError
        }
    }

    // Every animation of the tree: the resources of all layers that can be (re)started.
    function getAnimations() {
        if (animationsFlatten === undefined) {
            var animations = []
            var layers = getLayersFlatten()
            for (var i = 0; i < layers.length; ++i) {
                var resources = layers[i].resources
                for (var j = 0; j < resources.length; ++j) {
                    var candidate = resources[j]
                    if (candidate && typeof candidate.start === "function" && typeof candidate.restart === "function")
                        animations.push(candidate)
                }
            }
            animationsFlatten = animations
        }
        return animationsFlatten
    }

    // Runs the tree's animations; `stopped` comes once all of them have finished, which
    // for a build's root layer ends the build.
    function play() {
        var allAnimations = getAnimations()
        if (allAnimations.length === 0) {
            if (surface)
                surface.shouldShowAnimations = true
            stopped(layer)
            return
        }
        if (Util._.any(allAnimations, function (animation) { return animation.duration > 0 }))
            willAnimate()
        for (var i = 0; i < allAnimations.length; ++i)
            allAnimations[i].restart()
        // Connected only once all are running, so a restart does not end the build early.
        if (!_animationsConnected) {
            for (var j = 0; j < allAnimations.length; ++j) {
                if (allAnimations[j].stopped)
                    allAnimations[j].stopped.connect(animationStopped)
            }
            _animationsConnected = true
        }
        animationStopped()
    }

    function stop() {
        var animations = getAnimations()
        for (var i = 0; i < animations.length; ++i)
            animations[i].stop()
        animationStopped()
    }

    function playMedia() {
        if (surface && typeof surface.playMedia === "function")
            surface.playMedia()
    }

    function stopMedia() {
        if (surface && typeof surface.stopMedia === "function")
            surface.stopMedia()
    }

    function rewindMedia() {
        if (surface && typeof surface.rewindMedia === "function")
            surface.rewindMedia()
    }

    function willAnimate() {
        if (surface)
            surface.inTransition = true
        for (var i = 0; i < sublayers.length; ++i)
            sublayers[i].willAnimate()
    }

    function didAnimate() {
        if (surface)
            surface.inTransition = false
        for (var i = 0; i < sublayers.length; ++i)
            sublayers[i].didAnimate()
    }

    function getBuild() {
        var ancestor = layer.parent
        while (ancestor && ancestor.objectName === "Layer")
            ancestor = ancestor.parent
        if (!ancestor || ancestor.build === undefined)
            return null
        return ancestor.build
    }

    function getLayersFlatten() {
        if (sublayersFlatten === undefined) {
            var layers = [layer]
            for (var i = 0; i < sublayers.length; ++i)
                layers = layers.concat(sublayers[i].getLayersFlatten())
            sublayersFlatten = layers
        }
        return sublayersFlatten
    }

    function stringify() {
        return Util.basicVisualStringify(layer)
            .add("status", status)
            .add("asset", asset)
            .add("surface", surface)
            .add("markLayer", markLayer ? String(markLayer) : null)
            .add("thiefLayer", thiefLayer ? String(thiefLayer) : null)
            .toString()
    }

    function debugDump() {
        var text = stringify()
        for (var i = 0; i < sublayers.length; ++i)
            text += "\n" + Util.indent(sublayers[i].debugDump(), 2)
        return text
    }
}
