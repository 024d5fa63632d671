import QtQuick 2.2
import QtTest 1.2
import Kestrova 1.0

// The base every surface derives from.
TestCase {
    id: testCase
    name: "MediaSurface"

    Component {
        id: surfaceComponent
        MediaSurface {
            width: 100
            height: 50
        }
    }

    Component {
        id: contentComponent
        Item {}
    }

    Component {
        id: spyComponent
        SignalSpy {}
    }

    Component {
        id: fakeLayer
        QtObject {
            property var reported: []
            function childSurfaceStatusChanged(surface) { reported.push(surface.state) }
        }
    }

    function initTestCase() {
        Util.setViewer(Viewer)
    }

    function test_stateChangesReachTheLayer() {
        var surface = createTemporaryObject(surfaceComponent, null)
        compare(surface.state, "STOPPED")
        surface.state = "LOADING"  // no layer yet
        var layer = createTemporaryObject(fakeLayer, testCase)
        surface.parentLayer = layer
        surface.state = "READY"
        surface.state = "PLAYING"
        compare(layer.reported, ["READY", "PLAYING"])
    }

    function test_renderingBecomesReady() {
        var surface = createTemporaryObject(surfaceComponent, null)
        var content = createTemporaryObject(contentComponent, surface, { visible: false })
        surface.setContent(content)
        surface._render()
        compare(surface.state, "RENDERING")
        verify(content.visible)
        surface.repaintTimer.start()
        tryCompare(surface, "state", "READY")
    }

    function test_setContentHidesThePrevious() {
        var surface = createTemporaryObject(surfaceComponent, null)
        var first = createTemporaryObject(contentComponent, surface)
        var second = createTemporaryObject(contentComponent, surface)
        surface.setContent(first)
        surface.setContent(first)
        verify(first.visible, "setting the same content again keeps it")
        surface.setContent(second)
        verify(!first.visible)
        compare(surface.content, second)
    }

    function test_cleanupOnce() {
        var surface = createTemporaryObject(surfaceComponent, null)
        var done = createTemporaryObject(spyComponent, testCase, { target: surface, signalName: "cleanupDone" })
        surface.initiateCleanup()
        surface.initiateCleanup()
        compare(done.count, 1)
        compare(done.signalArguments[0][0], surface)
        verify(surface.cleaningUp)
    }

    function test_stringify() {
        var surface = createTemporaryObject(surfaceComponent, null)
        compare(surface.stringify(), "<" + surface + " frame: (0, 0, 100, 50) state: STOPPED>")
        surface.setContent(createTemporaryObject(contentComponent, surface, { x: 3, opacity: 0.5, visible: false }))
        compare(surface.stringify(),
                "<" + surface + " frame: (0, 0, 100, 50) state: STOPPED content.x: 3 content.opacity: 0.5 content.visible: false>")
        compare(surface.debugDump().split("\n")[0], surface.stringify())
    }
}
