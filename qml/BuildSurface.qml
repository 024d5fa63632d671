import QtQuick 2.2
import Kestrova 1.0

// Shows one build at a time. The main window has two of these: one plays the build on
// screen while the other prepares the next one out of sight. `status` says how far the
// build's layers have loaded and is reported to the native side through
// cppStatusChanged; `state` says whether the build is playing.
Item {
    id: surface

    anchors.fill: parent
    antialiasing: false
    state: "STOPPED"
    states: [
        State { name: "STOPPED" },
        State { name: "PLAYING" }
    ]

    property var build: null
    // The build assigned before `build`, so that it can be detached.
    property var previousBuild: null
    property var activeAnimations: []

    readonly property string kNull: "00 Null"
    readonly property string kLoading: "01 Loading"
    readonly property string kError: "02 Error"
    readonly property string kReady: "03 Ready"
    property string status: kNull

    // Timeline milliseconds of the last play(). A real rather than an int: the timeline
    // counts from the start of the run, which passes 2^31 ms after about 25 days.
    property real startedAt: typeof timeline !== "undefined" && timeline ? timeline.timestamp() : 0
    // Layer status changes while the layers are being prepared are not evaluated one by
    // one; prepare() evaluates once at the end.
    property bool ignoreLayerStatusChanges: false

    signal cppStatusChanged(string newStatus)

    onStatusChanged: cppStatusChanged(status)

    onBuildChanged: {
        if (build === previousBuild)
            return
        if (previousBuild && previousBuild.layer) {
            var oldRoot = previousBuild.layer
            oldRoot.parent = null
            var oldLayers = oldRoot.getLayersFlatten()
            for (var i = 0; i < oldLayers.length; ++i)
                oldLayers[i].statusChanged.disconnect(layerStatusDidChange)
            oldRoot.stopped.disconnect(layerDidStop)
        }
        if (build && build.layer) {
            var root = build.layer
            root.parent = surface
            var layers = root.getLayersFlatten()
            for (var j = 0; j < layers.length; ++j)
                layers[j].statusChanged.connect(layerStatusDidChange)
            root.stopped.connect(layerDidStop)
        }
        previousBuild = build
        layerStatusDidChange()
    }

    // currentBuild is the build on screen, whose surfaces the layers may take over.
    function prepare(currentBuild) {
        Util.assert(build, "need a build to prepare")
        Util.assert(currentBuild !== build, "asked to prepare same build twice")
        status = kLoading
        ignoreLayerStatusChanges = true
        if (build.layer)
            build.layer.prepare(currentBuild)
        ignoreLayerStatusChanges = false
        layerStatusDidChange()
    }

    function activate() {
        Util.assert(build, "need a build to activate")
        build.layer.activate()
    }

    function deactivate() {
        if (build && build.layer) {
            var layers = build.layer.getLayersFlatten()
            for (var i = 0; i < layers.length; ++i)
                layers[i].deactivate()
        }
        state = "STOPPED"
    }

    function layerStatusDidChange() {
        if (ignoreLayerStatusChanges)
            return
        if (!build) {
            status = kNull
            return
        }
        // A ready surface is not evaluated again, and a newly assigned build stays null
        // until it is prepared.
        if (status !== kLoading && status !== kError)
            return
        var layers = build.layer ? build.layer.getLayersFlatten() : []
        for (var i = 0; i < layers.length; ++i) {
            var layer = layers[i]
            layer.checkStatus()
            if (layer.status === layer.kError) {
                console.warn("Error loading " + build.stringify() + " due to layer " + layer.stringify())
                status = kError
                state = "STOPPED"
                return
            }
            if (layer.status === layer.kLoading) {
                status = kLoading
                return
            }
        }
        status = kReady
    }

    // The root layer stops once all animations of the build have run: the build is over.
    function layerDidStop(layer) {
        if (!build || layer !== build.layer)
            return
        if (state === "PLAYING")
            state = "STOPPED"
    }

    function play() {
        console.log("Playing build " + build.stringify())
        startedAt = timeline.timestamp()
        state = "PLAYING"
        build.layer.play()
    }

    function stop() {
        if (!build || !build.layer)
            return
        build.layer.stop()
        state = "STOPPED"
        build.layer.stopMedia()
    }

    // Milliseconds; negative once the build has overrun its duration.
    function getRemainingDuration() {
        if (state !== "PLAYING" || !build)
            return 0
        return build.duration * 1000 - (timeline.timestamp() - startedAt)
    }

    function stringify() {
        return Util.basicVisualStringify(surface)
            .add("state", state)
            .add("status", status)
            .toString()
    }

    function debugDump() {
        return Util.debugDumpVisual(surface)
    }
}
