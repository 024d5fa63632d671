import QtQuick 2.2

// One piece of media a layer shows. `tag` is its identity: two layers whose assets share
// a tag show the same thing, so the second can take the first one's surface over.
QtObject {
    property string tag
    property string kind: "image"
    property string source
    property string entrypoint: "index.html"
    property string name
    property real duration: 5.0
    property size size
    property string gravity: "resize_aspect"
    property var headers: ({})
    property string js_injection
    property bool include_metadata: false
    property bool ready_signal: false
    property var settings: ({})
    property var file_tree: ({})

    function equals(other) {
        return !!other && other.tag === tag
    }

    function stringify() {
        return "Asset " + tag + " (" + kind + ": " + source + ", " + size + ")"
    }
}
