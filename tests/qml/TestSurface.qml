import QtQuick 2.2
import Kestrova 1.0

// The surface the stand-in factory hands out. Tests drive its `state` directly.
MediaSurface {
    property string createdForKind
    property int playMediaCalls: 0
    property int stopMediaCalls: 0
    property int rewindMediaCalls: 0

    function playMedia() { ++playMediaCalls }
    function stopMedia() { ++stopMediaCalls }
    function rewindMedia() { ++rewindMediaCalls }
}
