import QtQuick 2.2
import QtTest 1.2
import Kestrova 1.0

TestCase {
    id: testCase
    name: "Build"

    Component {
        id: nestedBuild
        Build {
            debugName: "Build 1:2"
            layer: Layer {
                Layer {}
            }
        }
    }

    Component {
        id: plainBuild
        Build {}
    }

    Component {
        id: assetComponent
        Asset {}
    }

    function initTestCase() {
        Util.setViewer(Viewer)
        Util.setSurfaceRect(1920, 1080)
    }

    function cleanup() {
        playlist.clearPredicateResults()
    }

    function test_stringify() {
        var build = createTemporaryObject(plainBuild, testCase, { debugName: "Build 0:3", duration: 7.5, predicate: "2" })
        compare(build.stringify(), "<Build 0:3 kind: basis duration: 7.5 predicate: 2>")
    }

    function test_defaultDebugNameIsTheObjectText() {
        var build = createTemporaryObject(plainBuild, testCase)
        compare(build.debugName, String(build))
        compare(build.predicate, "NULL")
    }

    function test_debugDump() {
        var bare = createTemporaryObject(plainBuild, testCase, { debugName: "Bare" })
        compare(bare.debugDump(), bare.stringify())

        // Each level of the layer tree goes one blank further in.
        var build = createTemporaryObject(nestedBuild, testCase)
        var root = build.layer
        compare(build.debugDump(),
                build.stringify() + "\n " + root.stringify() + "\n  " + root.sublayers[0].stringify())
    }

    function test_getUniqueName() {
        var build = createTemporaryObject(plainBuild, testCase, { debugName: "Build 1:2" })
        compare(build.getUniqueName("video"), "Build 1:2:video")
    }

    function test_isPlayable_data() {
        return [
            { tag: "predicate holds", predicate: "3", playable: true },
            { tag: "predicate does not hold", predicate: "4", playable: false },
            { tag: "unassigned", predicate: "NULL", playable: false },
        ]
    }

    function test_isPlayable(data) {
        playlist.setPredicateResult("3", true)
        playlist.setPredicateResult("4", false)
        var build = createTemporaryObject(plainBuild, testCase, { predicate: data.predicate })
        compare(build.isPlayable(), data.playable)
    }

    function test_assetEquals_data() {
        return [
            { tag: "same tag", other: { tag: "clip" }, equal: true },
            { tag: "other tag", other: { tag: "still" }, equal: false },
            { tag: "nothing", other: null, equal: false },
        ]
    }

    function test_assetEquals(data) {
        var asset = createTemporaryObject(assetComponent, testCase, { tag: "clip" })
        var other = data.other ? createTemporaryObject(assetComponent, testCase, data.other) : null
        compare(asset.equals(other), data.equal)
    }

    function test_assetStringify() {
        var asset = createTemporaryObject(assetComponent, testCase,
                                          { tag: "clip", kind: "video", source: "clip.mp4", size: Qt.size(640, 360) })
        compare(asset.stringify(), "Asset clip (video: clip.mp4, QSizeF(640, 360))")
    }
}
