.pragma library
.import "underscore.js" as U

// Helpers shared by the viewer's QML and the slide documents. One instance per engine:
// the variables below are the same for every document that imports this script.

var _ = U.init()

// The Viewer context object; QML library scripts cannot see context properties, so the
// main window hands it over on completion.
var viewer
// Size of a build surface in the slide's own orientation. Read by every layer when it is
// created; library variables do not notify, so later changes reach new layers only.
var surfaceWidth
var surfaceHeight

function setViewer(x) {
    viewer = x
}

function setSurfaceRect(width, height) {
    surfaceWidth = width
    surfaceHeight = height
}

function isVerticalOrientation() {
    var rotation = viewer.rotation
    return rotation === 90 || rotation === 270
}

// Builds texts of the form "<name key: value key: value>" for debug output.
function toStringHelper(name) {
    return {
        pieces: [],
        omitNull: true,
        add: function (key, v) {
            if (v === null && this.omitNull)
                return this
            this.pieces.push({ key: key, value: v })
            return this
        },
        // Drops the entry just added when its value is the uninteresting default.
        unless: function (value) {
            var last = this.pieces[this.pieces.length - 1]
            if (last !== undefined && last.value === value)
                this.pieces.pop()
            return this
        },
        toString: function () {
            var entries = this.pieces.map(function (piece) {
                var v = piece.value
                if (v !== null && v !== undefined && typeof v.stringify === "function")
                    v = v.stringify()
                return piece.key + ": " + v
            })
            return "<" + name + " " + entries.join(" ") + ">"
        }
    }
}

// A nesting step of `spaces` is written as (spaces - 1) blanks.
function indent(s, spaces, skipFirst) {
    if (spaces === undefined)
        spaces = 4
    var prefix = " ".repeat(Math.max(spaces - 1, 0))
    var text = String(s).replace(/\n/g, "\n" + prefix)
    return skipFirst ? text : prefix + text
}

function leftJustify(s, width) {
    var text = String(s)
    var padding = width - text.length - 1
    return padding > 0 ? text + " ".repeat(padding) : text
}

function basicVisualStringify(target) {
    return toStringHelper(String(target))
        .add("frame", "(" + target.x + ", " + target.y + ", " + target.width + ", " + target.height + ")")
        .add("z", target.z).unless(0)
        .add("visible", target.visible).unless(true)
        .add("opacity", target.opacity).unless(1)
}

function debugDumpVisual(anItem) {
    if (!anItem)
        return ""
    var text = typeof anItem.stringify === "function" ? String(anItem.stringify())
                                                      : basicVisualStringify(anItem).toString()
    var resources = anItem.resources || []
    for (var i = 0; i < resources.length; ++i) {
        var resource = resources[i]
        if (resource && typeof resource.stringify === "function")
            text += "\n" + indent(resource.stringify(), 2)
        else
            text += "\n  " + resource
    }
    var children = anItem.children || []
    for (var j = 0; j < children.length; ++j) {
        var child = children[j]
        var dump = typeof child.debugDump === "function" ? child.debugDump() : debugDumpVisual(child)
        text += "\n" + indent(dump, 2)
    }
    return text
}

function roundTime(time) {
    return Number(time).toFixed(3)
}

// Seconds with millisecond precision: 12.3456 gives "12.346".
function formatTime(time) {
    var millis = Math.round(Math.abs(Number(time)) * 1000)
    var fraction = String(millis % 1000)
    while (fraction.length < 3)
        fraction = "0" + fraction
    var sign = Number(time) < 0 && millis > 0 ? "-" : ""
    return sign + Math.floor(millis / 1000) + "." + fraction
}

// A broken invariant of the presentation model leaves nothing sensible to show: log it
// with the stack and end the process; the service manager starts the viewer again.
function assert(condition, message) {
    if (condition)
        return
    console.warn(message)
    console.trace()
    if (viewer) {
        viewer.exit(1)
        return
    }
    // Without the Viewer (a document used on its own) at least stop the caller.
    throw new Error(message)
}
