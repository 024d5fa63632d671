import QtQuick 2.2
import QtTest 1.2
import Kestrova 1.0
import "qrc:/qml" as ViewerQml

// Not a tst_* file: every function here ends the process. CTest runs each one on its own
// (see CMakeLists.txt) and expects exit status 1 with the message on stderr.
TestCase {
    name: "ExitOnAssert"

    Component {
        id: unmarkedLayer
        Layer {
            asset: Asset { tag: "clip"; kind: "video" }
        }
    }

    Component {
        id: buildSurface
        ViewerQml.BuildSurface {}
    }

    Component {
        id: oneLayerBuild
        Build {
            layer: Layer {}
        }
    }

    function initTestCase() {
        Util.setViewer(Viewer)
        Util.setSurfaceRect(1920, 1080)
    }

    function test_utilAssert() {
        Util.assert(true, "a holding condition ends nothing")
        Util.assert(false, "Deliberately broken invariant")
        console.warn("after the failed assertion")
    }

    function test_stealWithoutMark() {
        var layer = createTemporaryObject(unmarkedLayer, this)
        layer.steal()
        console.warn("after the failed assertion")
    }

    function test_prepareWithoutBuild() {
        var surface = createTemporaryObject(buildSurface, this)
        surface.prepare(null)
        console.warn("after the failed assertion")
    }

    function test_prepareSameBuildTwice() {
        var build = createTemporaryObject(oneLayerBuild, this)
        var surface = createTemporaryObject(buildSurface, this, { build: build })
        surface.prepare(build)
        console.warn("after the failed assertion")
    }
}
