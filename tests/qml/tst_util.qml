import QtQuick 2.2
import QtTest 1.2
import Kestrova 1.0

TestCase {
    id: testCase
    name: "Util"

    Component {
        id: plainItem
        Item {}
    }

    Component {
        id: dumpTree
        Item {
            x: 1; y: 2; width: 3; height: 4
            QtObject { function stringify() { return "described\nresource" } }
            Item { function debugDump() { return "child\nline" } }
            Item { width: 5; height: 6 }
        }
    }

    function initTestCase() {
        Util.setViewer(Viewer)
    }

    function cleanup() {
        Util.setViewer(Viewer)
    }

    function test_indent_data() {
        return [
            { tag: "by 2: one blank before each line", text: "a\nb", spaces: 2, expected: " a\n b" },
            { tag: "default step: three blanks", text: "a\nb", expected: "   a\n   b" },
            { tag: "skipFirst", text: "a\nb", spaces: 2, skipFirst: true, expected: "a\n b" },
            { tag: "non-text value", text: 42, spaces: 3, expected: "  42" },
            { tag: "empty lines keep their prefix", text: "a\n\nb", spaces: 2, expected: " a\n \n b" },
        ]
    }

    function test_indent(data) {
        compare(Util.indent(data.text, data.spaces, data.skipFirst), data.expected)
    }

    function test_toStringHelper_data() {
        var described = { stringify: function () { return "described" } }
        return [
            { tag: "null entry omitted", fill: function (h) { return h.add("a", null).add("b", 1) },
              expected: "<X b: 1>" },
            { tag: "no entries", fill: function (h) { return h }, expected: "<X >" },
            { tag: "unless drops a default", fill: function (h) { return h.add("z", 0).unless(0).add("v", true).unless(false) },
              expected: "<X v: true>" },
            { tag: "unless compares strictly", fill: function (h) { return h.add("n", "0").unless(0) },
              expected: "<X n: 0>" },
            { tag: "unless on no entries", fill: function (h) { return h.unless(undefined).add("a", 1) },
              expected: "<X a: 1>" },
            { tag: "values with stringify", fill: function (h) { return h.add("asset", described).add("n", 2) },
              expected: "<X asset: described n: 2>" },
            { tag: "null kept without omitNull", fill: function (h) { h.omitNull = false; return h.add("a", null) },
              expected: "<X a: null>" },
        ]
    }

    function test_toStringHelper(data) {
        compare(data.fill(Util.toStringHelper("X")).toString(), data.expected)
    }

    function test_leftJustify_data() {
        return [
            { tag: "padded", text: "ab", width: 5, expected: "ab  " },
            { tag: "exactly one short", text: "abcd", width: 5, expected: "abcd" },
            { tag: "too long", text: "abcdef", width: 3, expected: "abcdef" },
            { tag: "number", text: 7, width: 4, expected: "7  " },
        ]
    }

    function test_leftJustify(data) {
        compare(Util.leftJustify(data.text, data.width), data.expected)
    }

    function test_time_data() {
        return [
            { tag: "rounded up", time: 12.3456, expected: "12.346" },
            { tag: "rounded down", time: 12.3454, expected: "12.345" },
            { tag: "carry into the seconds", time: 12.9996, expected: "13.000" },
            { tag: "leading zeros of the fraction", time: 0.05, expected: "0.050" },
            { tag: "whole seconds", time: 3, expected: "3.000" },
        ]
    }

    function test_time(data) {
        compare(Util.formatTime(data.time), data.expected, "formatTime")
        compare(Util.roundTime(data.time), data.expected, "roundTime")
    }

    function test_basicVisualStringify_data() {
        return [
            { tag: "defaults left out", props: {}, extra: "" },
            { tag: "z", props: { z: 2 }, extra: " z: 2" },
            { tag: "hidden", props: { visible: false }, extra: " visible: false" },
            { tag: "translucent", props: { opacity: 0.5 }, extra: " opacity: 0.5" },
            { tag: "all", props: { z: -1, visible: false, opacity: 0 }, extra: " z: -1 visible: false opacity: 0" },
        ]
    }

    function test_basicVisualStringify(data) {
        var props = { x: 10, y: 20.5, width: 300, height: 400 }
        for (var key in data.props)
            props[key] = data.props[key]
        var item = createTemporaryObject(plainItem, null, props)
        compare(Util.basicVisualStringify(item).toString(),
                "<" + item + " frame: (10, 20.5, 300, 400)" + data.extra + ">")
    }

    function test_debugDumpVisual() {
        compare(Util.debugDumpVisual(null), "")
        var root = createTemporaryObject(dumpTree, null)
        compare(Util.debugDumpVisual(root),
                "<" + root + " frame: (1, 2, 3, 4)>\n"
                + " described\n resource\n"
                + " child\n line\n"
                + " <" + root.children[1] + " frame: (0, 0, 5, 6)>")
    }

    function test_isVerticalOrientation_data() {
        return [
            { tag: "0", rotation: 0, vertical: false },
            { tag: "90", rotation: 90, vertical: true },
            { tag: "180", rotation: 180, vertical: false },
            { tag: "270", rotation: 270, vertical: true },
        ]
    }

    function test_isVerticalOrientation(data) {
        Util.setViewer({ rotation: data.rotation })
        compare(Util.isVerticalOrientation(), data.vertical)
    }

    function test_isVerticalOrientationOfTheViewer() {
        // The test content folder has no .rotation file.
        compare(Viewer.rotation, 0)
        verify(!Util.isVerticalOrientation())
    }

    function test_underscore() {
        compare(Util._.map([1, 2, 3], function (x) { return x * 2 }), [2, 4, 6])
        verify(Util._.any([0, 1], function (x) { return x > 0 }))
        verify(/^1\.13\./.test(Util._.VERSION), Util._.VERSION)
        // The module's own entry: the library made on load, and fresh ones from init().
        compare(Underscore._.VERSION, Util._.VERSION)
        verify(Underscore.init() !== Underscore._)
    }

    function test_styleIsASingleton() {
        compare(Style.fontFamily, "Rubik")
    }
}
