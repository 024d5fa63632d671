// The viewer's QML-facing object: rotation from a watched file, the audio route file,
// asset paths, keep-alives to the service manager and the web engine watchdog, exit.
#include "configfile.h"
#include "rotationwatcher.h"
#include "viewer.h"
#include "watchdognotifier.h"

#include "logcapture.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMetaObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using testsupport::LogCapture;
using testsupport::replaceFile;
using testsupport::writeFile;
using testsupport::Verbosity;

namespace {

constexpr int kTimeoutMs = 10000;


int countOf(const std::vector<std::string>& lines, const std::string& line)
{
    return int(std::count(lines.begin(), lines.end(), line));
}

bool waitForLine(const LogCapture& capture, const std::string& line, int count = 1)
{
    return QTest::qWaitFor([&] { return countOf(capture.messages(google::GLOG_INFO), line) >= count; },
                           kTimeoutMs);
}

// What QML gets when it calls the viewer by name.
int audioOutputOf(Viewer& viewer)
{
    int value = -1;
    EXPECT_TRUE(QMetaObject::invokeMethod(&viewer, "audioOutput", Q_RETURN_ARG(int, value)));
    return value;
}

QUrl resolvedPath(Viewer& viewer, const QString& relativeAssetPath)
{
    QUrl url;
    EXPECT_TRUE(QMetaObject::invokeMethod(&viewer, "resolvePathToAsset", Q_RETURN_ARG(QUrl, url),
                                          Q_ARG(QString, relativeAssetPath)));
    return url;
}

// A datagram socket owned by the test and announced as NOTIFY_SOCKET while it exists.
class NotifySocket {
public:
    NotifySocket()
    {
        m_path = m_dir.filePath(QStringLiteral("notify"));
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(m_path);
        if (m_fd < 0 || size_t(path.size()) >= sizeof(address.sun_path))
            return;
        std::copy(path.begin(), path.end(), address.sun_path);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        ::setenv("NOTIFY_SOCKET", path.constData(), 1);
    }
    ~NotifySocket()
    {
        ::unsetenv("NOTIFY_SOCKET");
        if (m_fd >= 0)
            ::close(m_fd);
    }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    QString path() const { return m_path; }

    // The datagrams waiting now. sd_notify sends before it returns, so whatever was sent
    // is here already.
    std::vector<std::string> received()
    {
        std::vector<std::string> result;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof(buffer), MSG_DONTWAIT);
            if (n < 0)
                break;
            result.emplace_back(buffer, size_t(n));
        }
        return result;
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
    int m_fd = -1;
};

} // namespace

TEST(RotationWatcher, FileContentToAngle)
{
    struct Case {
        const char* name;
        std::optional<QByteArray> content; // nothing: no file
        int angle;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {"one quarter turn with newline", QByteArray("1\n"), 90, {"I:Viewer rotation:1"}},
        {"two", QByteArray("2"), 180, {"I:Viewer rotation:2"}},
        {"three in white space", QByteArray("  3 \n"), 270, {"I:Viewer rotation:3"}},
        {"zero", QByteArray("0"), 0, {}},
        {"degrees are not turns", QByteArray("90"), 0, {"I:Viewer rotation:90"}},
        {"four", QByteArray("4"), 0, {"I:Viewer rotation:4"}},
        {"negative", QByteArray("-1"), 0, {"I:Viewer rotation:-1"}},
        {"garbage", QByteArray("left"), 0, {}},
        {"number with trailing text", QByteArray("1x"), 0, {}},
        {"two lines", QByteArray("1\n2\n"), 0, {}},
        {"empty", QByteArray(""), 0, {}},
        {"missing", std::nullopt, 0, {"W:Unable to open rotation file."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral(".rotation"));
        if (c.content)
            writeFile(path, *c.content);
        RotationWatcher watcher(path, nullptr);
        LogCapture capture;
        EXPECT_EQ(watcher.readRotationAngle(), c.angle);
        EXPECT_EQ(capture.summary(), c.log);
    }
}

TEST(RotationWatcher, EmptyPathIsNotWatched)
{
    RotationWatcher watcher(QString(), nullptr);
    LogCapture capture;
    watcher.watch();
    EXPECT_EQ(capture.summary(), std::vector<std::string>{"W:void RotationWatcher::watch() Path is empty"});
}

// One viewer through a series of changes to its rotation file, each checked once the
// change has come through the file system watcher.
TEST(Viewer, RotationFollowsTheFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral(".rotation"));
    writeFile(path, "1\n");

    Verbosity verbose(1);
    LogCapture capture;
    Viewer viewer(dir.path(), WatchdogNotifier(false));
    EXPECT_EQ(viewer.property("rotation").toInt(), 90);
    EXPECT_EQ(countOf(capture.messages(google::GLOG_INFO), "Viewer rotation:1"), 1);

    QSignalSpy spy(&viewer, SIGNAL(rotationChanged()));
    ASSERT_TRUE(spy.isValid());
    const std::string changedLine = "Rotation " + path.toStdString() + " changed!";

    enum Action { Rewrite, Replace, Remove };
    struct Step {
        const char* name;
        Action action;
        QByteArray content;
        int angle;
        bool changed; // rotationChanged expected
        std::vector<std::string> warnings;
    };
    const std::vector<std::string> missing = {"Unable to open rotation file."};
    const Step steps[] = {
        {"rewritten to two", Rewrite, "2", 180, true, {}},
        {"rewritten with the same value", Rewrite, "2\n", 180, false, {}},
        {"rewritten to zero", Rewrite, "0", 0, true, {}},
        {"rewritten to three", Rewrite, "3", 270, true, {}},
        {"removed", Remove, {}, 0, true, missing},
        {"created again", Rewrite, "2", 180, true, {}},
        {"replaced", Replace, "1", 90, true, {}},
        {"rewritten after the replacement", Rewrite, "3\n", 270, true, {}},
        {"replaced with the same value", Replace, "3", 270, false, {}},
        {"replaced by zero", Replace, "0", 0, true, {}},
        {"removed while at zero", Remove, {}, 0, false, missing},
        {"created again after that", Rewrite, "1", 90, true, {}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        capture.clear();
        spy.clear();
        switch (step.action) {
        case Rewrite:
            writeFile(path, step.content);
            break;
        case Replace:
            replaceFile(path, step.content);
            break;
        case Remove:
            ASSERT_TRUE(QFile::remove(path));
            break;
        }
        // Without a new angle only the watcher's own line shows that the change came in.
        if (step.changed)
            ASSERT_TRUE(spy.wait(kTimeoutMs));
        else
            ASSERT_TRUE(waitForLine(capture, changedLine));
        EXPECT_EQ(spy.count(), step.changed ? 1 : 0);
        EXPECT_EQ(viewer.property("rotation").toInt(), step.angle);
        EXPECT_EQ(capture.messages(google::GLOG_WARNING), step.warnings);
    }
}

TEST(Viewer, RotationFileCreatedAfterStart)
{
    QTemporaryDir dir;
    LogCapture capture;
    Viewer viewer(dir.path(), WatchdogNotifier(false));
    EXPECT_EQ(viewer.rotation(), 0);
    EXPECT_EQ(capture.summary(), std::vector<std::string>{"W:Unable to open rotation file."});

    QSignalSpy spy(&viewer, SIGNAL(rotationChanged()));
    writeFile(dir.filePath(QStringLiteral(".rotation")), "3\n");
    ASSERT_TRUE(spy.wait(kTimeoutMs));
    EXPECT_EQ(viewer.rotation(), 270);

    // From now on the file itself is watched.
    spy.clear();
    writeFile(dir.filePath(QStringLiteral(".rotation")), "1\n");
    ASSERT_TRUE(spy.wait(kTimeoutMs));
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(viewer.rotation(), 90);
}

TEST(Viewer, AudioOutputFromTheContentFolder)
{
    struct Step {
        std::optional<QByteArray> content; // nothing: no file
        int output;
        std::vector<std::string> log;
    };
    const auto fromFile = [](int value) {
        return std::vector<std::string>{"I:Audio output value set from the config file: " + std::to_string(value)};
    };
    const auto keeps = [](int value) {
        return std::vector<std::string>{"W:Unable to get audio output from the config file",
                                        "W:Audio output will use the current value: " + std::to_string(value)};
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"hdmi", {{QByteArray("hdmi"), Viewer::HDMI, fromFile(1)}}},
        {"hdmi in white space", {{QByteArray("  hdmi \n"), Viewer::HDMI, fromFile(1)}}},
        {"upper case is another route", {{QByteArray("HDMI"), 0, fromFile(0)}}},
        {"analog, then the file goes",
         {{QByteArray("analog"), 0, fromFile(0)}, {std::nullopt, 0, keeps(0)}}},
        {"no file from the start", {{std::nullopt, Viewer::HDMI, keeps(1)}}},
        {"blank file", {{QByteArray(" \n"), Viewer::HDMI, keeps(1)}}},
        {"read again on every call",
         {{QByteArray("analog"), 0, fromFile(0)}, {QByteArray("hdmi\n"), Viewer::HDMI, fromFile(1)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral(".rotation")), "0");
        Verbosity verbose(1);
        Viewer viewer(dir.path(), WatchdogNotifier(false));
        const QString path = dir.filePath(QStringLiteral(".audio_output"));
        for (const auto& step : c.steps) {
            if (step.content)
                writeFile(path, *step.content);
            else
                QFile::remove(path);
            LogCapture capture;
            EXPECT_EQ(audioOutputOf(viewer), step.output);
            EXPECT_EQ(capture.summary(), step.log);
        }
    }
}

TEST(ConfigFile, ContentIsTrimmedAndMissingIsNull)
{
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("padded")), "\t value one \n\n");
    writeFile(dir.filePath(QStringLiteral("blank")), "  \n");
    EXPECT_EQ(readConfigFileContent(dir.path(), QStringLiteral("padded")).toStdString(), "value one");
    EXPECT_TRUE(readConfigFileContent(dir.path(), QStringLiteral("blank")).isEmpty());
    EXPECT_TRUE(readConfigFileContent(dir.path(), QStringLiteral("missing")).isNull());
}

TEST(Viewer, AssetPathsResolveAgainstTheSlidesFolder)
{
    Viewer viewer(QStringLiteral("/data/content"), WatchdogNotifier(false));
    EXPECT_EQ(resolvedPath(viewer, QStringLiteral("media/clip.mp4")).toString().toStdString(),
              "file:///data/content/slides/media/clip.mp4");

    struct Case {
        const char* name;
        QString relative;
        std::string file; // the local file the URL names
    };
    const Case cases[] = {
        {"plain name", "logo.png", "/data/content/slides/logo.png"},
        {"nested", "a/b/c/page.html", "/data/content/slides/a/b/c/page.html"},
        {"parent folder", "../x", "/data/content/x"},
        {"absolute stays", "/srv/media/y.webm", "/srv/media/y.webm"},
        {"characters special in URLs", "odd #1?.png", "/data/content/slides/odd #1?.png"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QUrl url = resolvedPath(viewer, c.relative);
        EXPECT_TRUE(url.isLocalFile()) << url.toString().toStdString();
        EXPECT_EQ(QDir::cleanPath(url.toLocalFile()).toStdString(), c.file);
    }
}

TEST(WatchdogNotifier, KeepAliveOnlyWhenEnabled)
{
    struct Case {
        const char* name;
        bool enabled;
        std::vector<std::string> datagrams;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {"enabled", true, {"WATCHDOG=1", "WATCHDOG=1"}, {"I:Sending keep-alive.", "I:Sending keep-alive."}},
        {"disabled", false, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NotifySocket socket;
        ASSERT_TRUE(socket.isOpen());
        Verbosity verbose(1);
        LogCapture capture;
        const WatchdogNotifier notifier(c.enabled);
        // Twice: the first keep-alive must not use up the socket's address.
        notifier.notify();
        notifier.notify();
        EXPECT_EQ(socket.received(), c.datagrams);
        EXPECT_EQ(capture.summary(), c.log);
        EXPECT_EQ(qgetenv("NOTIFY_SOCKET").toStdString(), socket.path().toStdString());
    }
}

TEST(Viewer, KeepAlivesReachServiceManagerAndWebEngineWatchdog)
{
    const std::string watchdogLine = "WebEngineWatchdog notified";
    for (const bool enabled : {true, false}) {
        SCOPED_TRACE(enabled ? "notifier enabled" : "notifier disabled");
        const std::vector<std::string> expected =
            enabled ? std::vector<std::string>{"WATCHDOG=1"} : std::vector<std::string>{};
        NotifySocket socket;
        ASSERT_TRUE(socket.isOpen());
        QTemporaryDir dir;
        Verbosity verbose(1);
        LogCapture capture;

        Viewer viewer(dir.path(), WatchdogNotifier(enabled));
        EXPECT_EQ(socket.received(), expected) << "while constructing";

        ASSERT_TRUE(QMetaObject::invokeMethod(&viewer, "notify"));
        EXPECT_EQ(socket.received(), expected) << "from notify()";
        // The watchdog takes the keep-alive on its own thread.
        EXPECT_TRUE(waitForLine(capture, watchdogLine));
    }
}

TEST(Viewer, DestructionStopsTheWatchdogThread)
{
    QTemporaryDir dir;
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        auto viewer = std::make_unique<Viewer>(dir.path(), WatchdogNotifier(false));
        // Every other time a keep-alive is still queued for the watchdog when the viewer goes.
        if (i % 2)
            viewer->notify();
        viewer.reset();
    }
}

TEST(ViewerDeathTest, ExitEndsTheProcessWithTheCode)
{
    // The viewer runs a thread; the child must not inherit it half-way through a fork.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QTemporaryDir dir;
    Viewer viewer(dir.path(), WatchdogNotifier(false));
    EXPECT_EXIT(QMetaObject::invokeMethod(&viewer, "exit", Q_ARG(int, 3)), ::testing::ExitedWithCode(3), "");
}

int main(int argc, char** argv)
{
    google::InitGoogleLogging(argv[0]);
    FLAGS_logtostderr = true;
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
