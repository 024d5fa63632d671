import QtQuick 2.2
import QtTest 1.2
import Kestrova 1.0

// The functions the native slide handle calls by name.
TestCase {
    id: testCase
    name: "Slide"

    Component {
        id: threeBuilds
        Slide {
            builds: [
                Build { predicate: "0" },
                Build { predicate: "1" },
                Build { predicate: "2" }
            ]
        }
    }

    Component {
        id: documentDefaults
        Slide {
            builds: [
                Build {},
                Build { predicate: "7" },
                Build {}
            ]
        }
    }

    function initTestCase() {
        Util.setViewer(Viewer)
    }

    function cleanup() {
        playlist.clearPredicateResults()
    }

    function buildValues(slide, property) {
        var result = []
        for (var i = 0; i < slide.builds.length; ++i)
            result.push(slide.builds[i][property])
        return result
    }

    function test_setSlidePredicateIndexes_data() {
        return [
            { tag: "one index for all", indexes: [4], expected: ["4", "4", "4"] },
            { tag: "indexes repeat", indexes: [1, 2], expected: ["1", "2", "1"] },
            { tag: "empty list", indexes: [], expected: ["NULL", "7", "NULL"] },
            { tag: "null", indexes: null, expected: ["NULL", "7", "NULL"] },
            { tag: "missing", indexes: undefined, expected: ["NULL", "7", "NULL"] },
        ]
    }

    function test_setSlidePredicateIndexes(data) {
        var slide = createTemporaryObject(documentDefaults, testCase)
        slide.setSlidePredicateIndexes(data.indexes)
        compare(buildValues(slide, "predicate"), data.expected)
    }

    function test_advanceToAndGetNextPlayableBuild() {
        // [not playable, playable, not playable]
        playlist.setPredicateResult("1", true)
        var slide = createTemporaryObject(threeBuilds, testCase)
        compare(slide.getBuild(), null, "nothing handed out yet")

        compare(slide.advanceToAndGetNextPlayableBuild(), slide.builds[1])
        compare(slide.buildIndex, 1)
        compare(slide.getBuild(), slide.builds[1])

        // The first build is not looked at again, even once it would play.
        playlist.setPredicateResult("0", true)
        compare(slide.advanceToAndGetNextPlayableBuild(), null)
        compare(slide.getBuild(), null)

        slide.restart()
        compare(slide.buildIndex, -1)
        compare(slide.advanceToAndGetNextPlayableBuild(), slide.builds[0])
    }

    function test_isPlayable_data() {
        return [
            { tag: "none", playable: [], expected: false },
            { tag: "the last", playable: ["2"], expected: true },
            { tag: "several", playable: ["0", "2"], expected: true },
        ]
    }

    function test_isPlayable(data) {
        for (var i = 0; i < data.playable.length; ++i)
            playlist.setPredicateResult(data.playable[i], true)
        var slide = createTemporaryObject(threeBuilds, testCase)
        compare(slide.isPlayable(), data.expected)
        compare(slide.buildIndex, -1, "asking does not advance")
    }

    function test_namesAndText() {
        var slide = createTemporaryObject(threeBuilds, testCase)
        compare(slide.getNumberOfBuilds(), 3)
        slide.updateItemDebugNames(3, "news")
        compare(slide.debugName, "Slide news")
        compare(buildValues(slide, "debugName"), ["Build 3:0", "Build 3:1", "Build 3:2"])
        compare(slide.stringify(), "<Slide news buildIndex: -1 builds.length: 3>")
        slide.advanceToNextBuild()
        compare(slide.stringify(), "<Slide news buildIndex: 0 builds.length: 3>")
    }
}
