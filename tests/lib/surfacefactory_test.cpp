// The surface factory on a real engine with the compiled-in surface documents: which
// document serves which asset kind, and the life of a surface from creation to the
// delayed deletion, as the log tells it.
#include "guitestmain.h"
#include "surfacefactory.h"
#include "viewer.h"
#include "watchdognotifier.h"

#include "logcapture.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPointer>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using testsupport::LogCapture;
using testsupport::Verbosity;

namespace {

constexpr int kTimeoutMs = 10000;

// The screenshot surface listens to the playback machinery for its picture.
class PlaybackControlStandIn : public QObject {
    Q_OBJECT
signals:
    void screenshotUpdated(int id);
};

// Sets or removes VIDEO_BACKEND while it exists.
class VideoBackendEnvironment {
public:
    explicit VideoBackendEnvironment(const char* value)
        : m_saved(qEnvironmentVariableIsSet("VIDEO_BACKEND") ? std::optional<QByteArray>(qgetenv("VIDEO_BACKEND"))
                                                             : std::nullopt)
    {
        if (value)
            qputenv("VIDEO_BACKEND", value);
        else
            qunsetenv("VIDEO_BACKEND");
    }
    ~VideoBackendEnvironment()
    {
        if (m_saved)
            qputenv("VIDEO_BACKEND", *m_saved);
        else
            qunsetenv("VIDEO_BACKEND");
    }

private:
    std::optional<QByteArray> m_saved;
};

std::string address(const QObject* object)
{
    std::ostringstream text;
    text << static_cast<const void*>(object);
    return text.str();
}

std::vector<std::string> countLines(const LogCapture& capture)
{
    std::vector<std::string> result;
    for (const std::string& line : capture.messages(google::GLOG_INFO))
        if (line.find("Total surfaces: ") != std::string::npos)
            result.push_back(line);
    return result;
}

bool contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class SurfaceFactoryTest : public ::testing::Test {
protected:
    SurfaceFactoryTest()
        : viewer(content.path(), WatchdogNotifier(false))
    {
        engine.addImportPath(QStringLiteral("qrc:///"));
        engine.rootContext()->setContextProperty(QStringLiteral("Viewer"), &viewer);
        engine.rootContext()->setContextProperty(QStringLiteral("playbackControl"), &playbackControl);
        factory = std::make_unique<SurfaceFactory>(engine);
        // As the main window does: the module's script reads the rotation from the Viewer.
        QQmlComponent setup(&engine);
        setup.setData("import QtQuick 2.2; import Kestrova 1.0; QtObject { Component.onCompleted: Util.setViewer(Viewer) }",
                      QUrl());
        std::unique_ptr<QObject>(setup.create());
    }

    // The surface factory goes before the engine that made its surfaces.
    ~SurfaceFactoryTest() override { factory.reset(); }

    QTemporaryDir content;
    Viewer viewer;
    PlaybackControlStandIn playbackControl;
    QQmlEngine engine;
    QQuickItem layer;
    std::unique_ptr<SurfaceFactory> factory;
};

TEST(SurfaceDocument, KindsMapToDocuments)
{
    struct Case {
        const char* kind;
        const char* videoBackend; // VIDEO_BACKEND, nullptr for unset
        const char* document;     // under qrc:///qml/, nullptr for none
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {"web", nullptr, "WebSurface.qml", {}},
        {"edge-app", nullptr, "EdgeAppSurface.qml", {}},
        {"image", nullptr, "ImageSurface.qml", {}},
        {"screenshot", nullptr, "ScreenshotSurface.qml", {}},
        {"animated-image", nullptr, "AnimatedImageSurface.qml", {}},
        // GStreamer serves video unless QtMultimedia is asked for, in exactly these letters.
        {"video", nullptr, "VideoSurface.qml", {}},
        {"video", "default", "VideoSurface.qml", {}},
        {"video", "", "VideoSurface.qml", {}},
        {"video", "GST", "VideoSurface.qml", {}},
        {"video", "qt", "VideoSurface.qml", {}},
        {"video", "QT", "MultimediaSurface.qml", {}},
        // Audio is QtMultimedia's whatever serves video.
        {"audio", nullptr, "MultimediaSurface.qml", {}},
        {"audio", "GST", "MultimediaSurface.qml", {}},
        {"audio", "QT", "MultimediaSurface.qml", {}},
        {"intro", nullptr, nullptr, {"E:Intro asset type is not supported for Qt 5"}},
        {"Image", nullptr, nullptr, {"W:Unknown surface type: Image"}},
        {"web ", nullptr, nullptr, {"W:Unknown surface type: web "}},
        {"", nullptr, nullptr, {"W:Unknown surface type: "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("kind '") + c.kind + "' VIDEO_BACKEND " + (c.videoBackend ? c.videoBackend : "unset"));
        VideoBackendEnvironment environment(c.videoBackend);
        LogCapture capture;
        const QUrl document = SurfaceFactory::surfaceDocument(QString::fromUtf8(c.kind));
        if (c.document)
            EXPECT_EQ(document.toString().toStdString(), std::string("qrc:///qml/") + c.document);
        else
            EXPECT_TRUE(document.isEmpty()) << document.toString().toStdString();
        EXPECT_EQ(capture.summary(), c.log);
    }
}

TEST(SurfaceDocument, BackendFromStringLogsAtVerbosityOne)
{
    using Backend = SurfaceFactory::VideoBackend;
    struct Case {
        const char* value;
        Backend backend;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {"QT", Backend::Qt, {"I:Using backend from string: QT"}},
        {"GST", Backend::Gst, {"I:Using backend from string: GST"}},
        {"default", Backend::Default,
         {"I:Using backend from string: default", "I:Default video backend is used."}},
        {"gst", Backend::Default, {"I:Using backend from string: gst", "I:Default video backend is used."}},
        {"", Backend::Default, {"I:Using backend from string: ", "I:Default video backend is used."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        {
            Verbosity verbose(1);
            LogCapture capture;
            EXPECT_EQ(backendFromString(QString::fromUtf8(c.value)), c.backend);
            EXPECT_EQ(capture.summary(), c.log);
        }
        LogCapture quiet;
        backendFromString(QString::fromUtf8(c.value));
        EXPECT_TRUE(quiet.lines().empty());
    }
    EXPECT_EQ(videoSurfaceName(Backend::Qt), QStringLiteral("MultimediaSurface.qml"));
    EXPECT_EQ(videoSurfaceName(Backend::Gst), QStringLiteral("VideoSurface.qml"));
    EXPECT_EQ(videoSurfaceName(Backend::Default), QStringLiteral("VideoSurface.qml"));
}

TEST_F(SurfaceFactoryTest, CreatesOwnedSurfacesForTheKindsItCanShow)
{
    VideoBackendEnvironment environment(nullptr);
    LogCapture capture;
    int expectedCount = 0;
    for (const char* kind : {"image", "animated-image", "screenshot", "audio"}) {
        SCOPED_TRACE(kind);
        QQuickItem* surface = factory->createSurface(QString::fromUtf8(kind), &layer);
        ASSERT_NE(surface, nullptr);
        EXPECT_EQ(surface->objectName(), QStringLiteral("MediaSurface"));
        EXPECT_EQ(surface->parentItem(), &layer);
        EXPECT_EQ(surface->parent(), factory.get());
        EXPECT_EQ(surface->state(), QStringLiteral("STOPPED"));
        ++expectedCount;
        EXPECT_EQ(countLines(capture).back(), "Surface created. Total surfaces: " + std::to_string(expectedCount));
    }
    EXPECT_TRUE(capture.messages(google::GLOG_WARNING).empty());
}

TEST_F(SurfaceFactoryTest, KindsWithoutADocumentGiveNullAndKeepTheCount)
{
    struct Case {
        const char* kind;
        const char* videoBackend;
        std::string message; // start of the one warning or error
    };
    const Case cases[] = {
        {"intro", nullptr, "E:Intro asset type is not supported for Qt 5"},
        {"Image", nullptr, "W:Unknown surface type: Image"},
        // The GStreamer video surface is built elsewhere; until it is compiled in, the
        // load fails cleanly, naming the document that was tried.
        {"video", nullptr, "W:Can't create surface: qrc:/qml/VideoSurface.qml"},
        {"video", "qt", "W:Can't create surface: qrc:/qml/VideoSurface.qml"},
    };
    ASSERT_NE(factory->createSurface(QStringLiteral("image"), &layer), nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        VideoBackendEnvironment environment(c.videoBackend);
        LogCapture capture;
        EXPECT_EQ(factory->createSurface(QString::fromUtf8(c.kind), &layer), nullptr);
        std::vector<std::string> problems;
        for (const std::string& line : capture.summary())
            if (line[0] != 'I')
                problems.push_back(line);
        ASSERT_EQ(problems.size(), 1u) << ::testing::PrintToString(capture.summary());
        EXPECT_EQ(problems[0].rfind(c.message, 0), 0u) << problems[0];
    }
    LogCapture capture;
    ASSERT_NE(factory->createSurface(QStringLiteral("image"), &layer), nullptr);
    EXPECT_EQ(countLines(capture), std::vector<std::string>{"Surface created. Total surfaces: 2"});
}

TEST_F(SurfaceFactoryTest, QtBackendServesVideoWithMultimedia)
{
    VideoBackendEnvironment environment("QT");
    QQuickItem* surface = factory->createSurface(QStringLiteral("video"), &layer);
    ASSERT_NE(surface, nullptr);
    EXPECT_NE(surface->findChild<QObject*>(QStringLiteral("videoOutput")), nullptr);
}

TEST_F(SurfaceFactoryTest, DestroyedSurfaceGoesAfterCleanupAndDelay)
{
    LogCapture capture;
    QQuickItem* first = factory->createSurface(QStringLiteral("image"), &layer);
    QQuickItem* second = factory->createSurface(QStringLiteral("screenshot"), &layer);
    QQuickItem* third = factory->createSurface(QStringLiteral("audio"), &layer);
    ASSERT_TRUE(first && second && third);
    QPointer<QQuickItem> doomed(second);
    QSignalSpy cleanupDone(second, SIGNAL(cleanupDone(QQuickItem*)));
    QSignalSpy destroyed(second, &QObject::destroyed);

    factory->destroySurface(second);
    // Cleaned up at once, deleted only later.
    EXPECT_EQ(cleanupDone.count(), 1);
    EXPECT_TRUE(doomed);
    EXPECT_TRUE(contains(capture.messages(google::GLOG_INFO), "Deleting surface after 100ms. " + address(second)));
    EXPECT_EQ(countLines(capture), (std::vector<std::string>{"Surface created. Total surfaces: 1",
                                                            "Surface created. Total surfaces: 2",
                                                            "Surface created. Total surfaces: 3"}));

    ASSERT_TRUE(destroyed.wait(kTimeoutMs));
    const std::vector<std::string> infos = capture.messages(google::GLOG_INFO);
    const std::vector<std::string> tail(infos.end() - 3, infos.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Deleting surface after 100ms. " + address(second),
                                              "Posting to delete surface!" + address(second),
                                              "Surface destroyed. Total surfaces: 2"}));
}

TEST_F(SurfaceFactoryTest, ReparentedSurfaceIsCountedDownOnce)
{
    QQuickItem* kept = factory->createSurface(QStringLiteral("image"), &layer);
    QQuickItem* stolen = factory->createSurface(QStringLiteral("image"), &layer);
    ASSERT_TRUE(kept && stolen);
    auto thief = std::make_unique<QQuickItem>();

    LogCapture capture;
    {
        Verbosity verbose(1);
        factory->setSurfaceParentItem(stolen, thief.get());
    }
    EXPECT_EQ(capture.summary(), std::vector<std::string>{"I:Setting item's " + address(stolen) + " parent to " +
                                                          address(thief.get())});
    EXPECT_EQ(stolen->parentItem(), thief.get());
    EXPECT_EQ(stolen->parent(), factory.get());

    QSignalSpy destroyed(stolen, &QObject::destroyed);
    factory->destroySurface(stolen);
    factory->destroySurface(stolen); // a second request while it is going changes nothing
    ASSERT_TRUE(destroyed.wait(kTimeoutMs));
    // Anything else queued for it would come now.
    QTest::qWait(300);
    EXPECT_EQ(countLines(capture), std::vector<std::string>{"Surface destroyed. Total surfaces: 1"});

    // The layer item going away does not take the surface with it: the factory owns it.
    QPointer<QQuickItem> keptGuard(kept);
    factory->setSurfaceParentItem(kept, thief.get());
    thief.reset();
    EXPECT_TRUE(keptGuard);
}

TEST_F(SurfaceFactoryTest, SurfacesEndWithTheFactory)
{
    QPointer<QQuickItem> image(factory->createSurface(QStringLiteral("image"), &layer));
    QPointer<QQuickItem> audio(factory->createSurface(QStringLiteral("audio"), &layer));
    ASSERT_TRUE(image && audio);
    factory.reset();
    EXPECT_FALSE(image);
    EXPECT_FALSE(audio);
    EXPECT_TRUE(layer.childItems().isEmpty());
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_GSTREAMER_PLAYBIN_AUDIOSINK", "fakeaudiosink");
    return testsupport::runGuiTests(argc, argv);
}

#include "surfacefactory_test.moc"
