import QtQuick 2.12
import QtQuick.Window 2.12
import Kestrova 1.0

Window {
    id: screen

    readonly property string logLabel: "[Main]"
    property BuildSurface active: surface0
    property BuildSurface inactive: surface1
    property var wizard: null

    function onWizardFinished() {
        focusItem.forceActiveFocus()
        if (wizard) {
            wizard.destroy()
            wizard = null
        }
    }

    function openWizard() {
        if (wizard)
            return
        const component = Qt.createComponent("WifiConfigurationWizard.qml")
        if (component.status !== Component.Ready) {
            console.warn(logLabel + " Unable to open the WiFi wizard: " + component.errorString())
            return
        }
        wizard = component.createObject(screen, { z: 10 })
        wizard.finished.connect(onWizardFinished)
        wizard.forceActiveFocus()
    }

    // Layers always cover the window. A rotated display is handled by the surfaces:
    // each turns about its centre and gives its content the swapped size, so the
    // turned content fills the layer. Swapping the layer as well would turn a portrait
    // layer into a landscape window and cut the build off.
    function updateSurfaceRectDimensions() {
        console.log("Viewer resolution: " + width + "x" + height)
        Util.setSurfaceRect(width, height)
    }

    width: Screen.desktopAvailableWidth
    height: Screen.desktopAvailableHeight
    color: "black"
    visible: true

    // Called by playback: prepares the next build invisibly, then swaps it in.
    Item {
        id: functionsForCpp
        objectName: "functionsForCpp"

        function prepareInactiveBuild(inactive, active, nextBuild) {
            active.z = 1
            inactive.z = -1
            inactive.opacity = 1
            inactive.visible = true
            if (active.build === nextBuild)
                throw "trying to prepare a build which is being shown"
            inactive.build = nextBuild
            console.info(logLabel + " Preparing inactive " + inactive.debugDump())
            console.info(logLabel + " Active " + active.debugDump())
            inactive.prepare(active.build)
        }

        function playNextBuild(inactive, active) {
            active.z = 1
            active.opacity = 1
            active.activate()
            active.visible = true
            inactive.z = -1
            inactive.visible = false
            Util.assert(logLabel + " " + active.build, "Surface without build cannot be played!")
            active.play()
            inactive.deactivate()
            inactive.build = null
        }
    }

    BuildSurface {
        id: surface0
        objectName: "surface0"
        enabled: false
    }

    BuildSurface {
        id: surface1
        objectName: "surface1"
        visible: false
        enabled: false
    }

    Item {
        id: focusItem
        objectName: "focusItem"
        focus: true
        Keys.onEscapePressed: screen.openWizard()
    }

    // Shown when nothing may play.
    Image {
        id: idleImage
        objectName: "idleImage"
        visible: true
        z: 5
        x: 0
        y: 0
        width: screen.width
        height: screen.height
        sourceSize.width: screen.width
        sourceSize.height: screen.height
        source: "qrc:///resources/KestrovaBlack.png"
    }

    // Keep-alive from QML: a QML engine that stops running JavaScript stops the pings, and
    // systemd restarts the viewer.
    Timer {
        id: watchdog
        interval: 1000
        repeat: true
        running: true
        onTriggered: {
            console.debug("Watchdog notified from QML")
            Viewer.notify()
        }
    }

    Connections {
        target: Viewer
        function onRotationChanged() { screen.updateSurfaceRectDimensions() }
    }

    Component.onCompleted: {
        Util.setViewer(Viewer)
        // Layers read the surface size when they are created, so it has to be there
        // before the first slide, not only after a rotation change.
        updateSurfaceRectDimensions()
    }
}
