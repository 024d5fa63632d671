// Runs the tst_*.qml files against the resources the viewer is built with (qrc:///qml,
// qrc:///Kestrova), with a real Viewer and Timeline and stand-ins for the other context objects.
#include "player.h"
#include "standins.h"
#include "surfacefactory.h"
#include "timeline.h"
#include "viewer.h"
#include "watchdognotifier.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QtQuickTest>

#include <memory>

class Setup : public QObject {
    Q_OBJECT
public slots:
    void applicationAvailable()
    {
        m_viewer = std::make_unique<Viewer>(m_content.path(), WatchdogNotifier(false));
        gst_init(nullptr, nullptr);
        registerGstreamerQmlComponent();
        qmlRegisterType<Player>("com.kestrova.player", 1, 0, "Player");
    }

    void qmlEngineAvailable(QQmlEngine* engine)
    {
        engine->addImportPath(QStringLiteral("qrc:///"));
        const QUrl surfaceDocument = QUrl::fromLocalFile(QStringLiteral(QUICK_TEST_SOURCE_DIR "/TestSurface.qml"));
        QQmlContext* context = engine->rootContext();
        context->setContextProperty(QStringLiteral("Viewer"), m_viewer.get());
        context->setContextProperty(QStringLiteral("surfaceFactory"),
                                    new SurfaceFactoryStandIn(engine, surfaceDocument, engine));
        context->setContextProperty(QStringLiteral("playlist"), new PlaylistStandIn(engine));
        context->setContextProperty(QStringLiteral("webSettings"), new WebSettingsStandIn(engine));
        // Its surfaces must be gone before the engine is: tests destroy what they create.
        context->setContextProperty(QStringLiteral("realSurfaceFactory"), new SurfaceFactory(*engine, engine));
        context->setContextProperty(QStringLiteral("playbackControl"), new PlaybackControlStandIn(engine));
        context->setContextProperty(QStringLiteral("testContent"), new TestContent(m_content.path(), engine));
        context->setContextProperty(QStringLiteral("timeline"), new Timeline(engine));
    }

    void cleanupTestCase() { m_viewer.reset(); }

private:
    QTemporaryDir m_content;
    std::unique_ptr<Viewer> m_viewer;
};

QUICK_TEST_MAIN_WITH_SETUP(kestrova_qml, Setup)

#include "main.moc"
