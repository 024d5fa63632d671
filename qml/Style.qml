pragma Singleton
import QtQuick 2.14

// Colours and font of the viewer's own screens (the WiFi wizard).
QtObject {
    readonly property string fontFamily: 'Rubik'
    readonly property int baseHeight: 1080
    readonly property int baseWidth: 1920
    readonly property color whiteColor: '#ffffff'
    readonly property color mutedColor: '#98a1c3'
    readonly property color lightBackgroundColor: '#2F3650'
    readonly property color darkBackgroundColor: '#21263B'
    readonly property color primaryColor: '#7E2BD0'
    readonly property color placeholderColor: '#424C70'
    readonly property color dangerColor: '#FF6179'
}
