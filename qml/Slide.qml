import QtQuick 2.2
import Kestrova 1.0

// Root of every slide document. The native slide handle calls these functions by name to
// hand the slide's playable builds out one by one.
QtObject {
    id: slide

    property string debugName: "Slide"
    // Position of the build last handed out; -1 before the first.
    property int buildIndex: -1
    property list<Build> builds

    function isPlayable() {
        return Util._.any(builds, function (build) { return build.isPlayable() })
    }

    function advanceToNextBuild() {
        buildIndex++
    }

    function getBuild() {
        if (buildIndex >= 0 && buildIndex < builds.length)
            return builds[buildIndex]
        return null
    }

    // Builds passed over here are not looked at again until restart().
    function advanceToAndGetNextPlayableBuild() {
        advanceToNextBuild()
        while (getBuild() && !getBuild().isPlayable())
            advanceToNextBuild()
        return getBuild()
    }

    function restart() {
        buildIndex = -1
    }

    function stringify() {
        return Util.toStringHelper(debugName)
            .add("buildIndex", buildIndex)
            .add("builds.length", builds.length)
            .toString()
    }

    // One index applies to every build; with several they repeat over the builds.
    function setSlidePredicateIndexes(predicateIndexes) {
        if (!predicateIndexes || predicateIndexes.length === 0)
            return
        for (var i = 0; i < builds.length; ++i)
            builds[i].predicate = String(predicateIndexes[i % predicateIndexes.length])
    }

    function getNumberOfBuilds() {
        return builds.length
    }

    function updateItemDebugNames(index, slideName) {
        debugName = "Slide " + slideName
        for (var i = 0; i < builds.length; ++i)
            builds[i].debugName = "Build " + index + ":" + i
    }
}
