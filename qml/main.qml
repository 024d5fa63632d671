import QtQuick 2.12
import QtQuick.Window 2.12

Window {
    id: screen

    readonly property string logLabel: "[Main]"

    width: Screen.desktopAvailableWidth
    height: Screen.desktopAvailableHeight
    color: "black"
    visible: true

    // Keep-alive from QML: a QML engine that stops running JavaScript stops the pings.
    Timer {
        id: watchdog
        interval: 1000
        repeat: true
        running: true
        onTriggered: {
            console.debug("Watchdog notified from QML")
        }
    }
}
