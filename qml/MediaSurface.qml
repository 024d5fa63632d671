import QtQuick 2.2
import Kestrova 1.0

// Base of every surface: the item that puts one asset on screen. Its `state` is the
// contract with the owning layer:
//   "STOPPED"    initial; also where image-like surfaces go when told to play
//   "LOADING"    content is being loaded
//   "RENDERING"  content made visible, being painted for the first time
//   "READY"      painted, may be revealed
//   "PLAYING"    told to play
//   "FAILED"     content could not be loaded
Item {
    id: surface

    objectName: "MediaSurface"
    antialiasing: false
    state: "STOPPED"

    property var parentLayer: null
    // Setting it starts the preparation in the concrete surface.
    property Asset asset: null
    property var content: null
    // True while the owning layer's animations run (web surfaces change how they paint).
    property bool inTransition: false
    // Set by a layer that plays without animations.
    property bool shouldShowAnimations: false
    property bool cleaningUp: false

    readonly property int repaintDelayMillis: 16
    // Time given to the first paint before the surface counts as ready.
    property Timer repaintTimer: Timer {
        interval: surface.repaintDelayMillis
        repeat: false
        onTriggered: {
            if (surface.state === "RENDERING")
                surface.state = "READY"
        }
    }

    signal cleanupDone(Item target)

    transform: Rotation {
        origin.x: surface.width / 2
        origin.y: surface.height / 2
        angle: surface.asset && surface.asset.kind === "screenshot" ? 0 : Viewer.rotation
    }

    onStateChanged: {
        if (parentLayer)
            parentLayer.childSurfaceStatusChanged(surface)
    }

    function setContent(newContent) {
        if (content && content !== newContent)
            content.visible = false
        content = newContent
    }

    // Content has to be visible to paint; the layer and the main window decide whether
    // the surface itself is seen.
    function _render() {
        state = "RENDERING"
        content.visible = true
    }

    function _play() {
        console.log("Playing " + asset.stringify())
        state = "PLAYING"
    }

    function play() {
        _play()
    }

    function stringify() {
        var helper = Util.basicVisualStringify(surface).add("state", state)
        if (content) {
            helper.add("content.x", content.x).unless(0)
                  .add("content.y", content.y).unless(0)
                  .add("content.z", content.z).unless(0)
                  .add("content.opacity", content.opacity).unless(1)
                  .add("content.visible", content.visible).unless(true)
        }
        return helper.toString()
    }

    // Called by the surface factory before the surface is deleted. Surfaces that must
    // stop something first (web pages) override it and signal later.
    function initiateCleanup() {
        if (cleaningUp) {
            console.info("Already cleaning up " + stringify())
            return
        }
        cleaningUp = true
        console.info("Cleanup done" + stringify())
        cleanupDone(surface)
    }

    function debugDump() {
        return Util.debugDumpVisual(surface)
    }
}
