import QtQuick 2.2
import Kestrova 1.0

// One step of playback: a tree of layers shown for `duration` seconds, played only while
// the predicate it points at holds.
QtObject {
    id: build

    property string debugName: build.toString()
    property string kind: "basis"
    property real duration: 5.0
    // For slide documents; playback does not read it.
    property real delay: 0.0
    // Index into the playlist's predicate registry, as decimal text. "NULL" never plays.
    property string predicate: "NULL"
    property Layer layer: null

    function isPlayable() {
        return playlist.evaluatePredicate(predicate)
    }

    function debugDump() {
        var text = stringify()
        if (layer)
            text += "\n" + Util.indent(layer.debugDump(), 2)
        return text
    }

    function getUniqueName(key) {
        return debugName + ":" + key
    }

    function stringify() {
        return Util.toStringHelper(debugName)
            .add("kind", kind)
            .add("duration", duration)
            .add("predicate", predicate)
            .toString()
    }
}
