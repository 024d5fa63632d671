// The assembled viewer as a user meets it: a full-screen window with the idle image,
// keep-alive pings, rotation from the content folder, the placement of its GUI and render
// threads, and the restart when the firmware reports another resolution shortly after boot.
#include "screen.h"
#include "viewerprocess.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace std::chrono_literals;
using testsupport::ViewerProcess;

namespace {

constexpr auto startTimeout = 60s;
const QString startedText = QStringLiteral("Viewer started. Playing content at ");
const QStringList logToStderr = {QStringLiteral("GLOG_logtostderr=1")};

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QString readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Scheduling and placement of one thread, from /proc.
struct ThreadPlacement {
    QString name;
    int policy = -1;
    int rtPriority = -1;
    QString cpus;
};

std::optional<ThreadPlacement> threadPlacement(qint64 pid, const QString& tid)
{
    const QString dir = QStringLiteral("/proc/%1/task/%2/").arg(pid).arg(tid);
    const QString stat = readFile(dir + "stat");
    const int close = stat.lastIndexOf(QLatin1Char(')'));
    if (close < 0)
        return std::nullopt;
    const QStringList fields = stat.mid(close + 2).split(QLatin1Char(' '));
    if (fields.size() < 39)
        return std::nullopt;
    ThreadPlacement placement;
    placement.name = readFile(dir + "comm").trimmed();
    placement.rtPriority = fields.at(37).toInt(); // field 40 of stat
    placement.policy = fields.at(38).toInt();     // field 41
    for (const QString& line : readFile(dir + "status").split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("Cpus_allowed_list:")))
            placement.cpus = line.section(QLatin1Char('\t'), 1).trimmed();
    return placement;
}

// A datagram socket playing systemd's notification socket.
class NotifySocket {
public:
    NotifySocket()
    {
        m_path = m_dir.filePath(QStringLiteral("notify"));
        m_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(m_path).constData(), sizeof address.sun_path);
        m_bound = m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isBound() const { return m_bound; }
    QString path() const { return m_path; }

    // Every datagram that arrives within the period.
    QStringList receiveFor(std::chrono::milliseconds period)
    {
        QStringList received;
        const auto end = std::chrono::steady_clock::now() + period;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return received;
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, int(left.count())) <= 0)
                continue;
            char buffer[4096];
            const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
            if (n > 0)
                received << QString::fromUtf8(buffer, int(n));
        }
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
    int m_fd = -1;
    bool m_bound = false;
};

// /proc/uptime replaced by a file of ours for as long as this exists. The test runs in a
// private mount namespace, so the host never sees the bind mount.
class FakeUptime {
public:
    explicit FakeUptime(const QByteArray& content)
    {
        m_path = m_dir.filePath(QStringLiteral("uptime"));
        m_mounted = writeFile(m_path, content)
            && QProcess::execute(QStringLiteral("mount"), {QStringLiteral("--bind"), m_path, QStringLiteral("/proc/uptime")}) == 0;
    }
    ~FakeUptime()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("/proc/uptime")});
    }
    bool isMounted() const { return m_mounted; }

private:
    QTemporaryDir m_dir;
    QString m_path;
    bool m_mounted = false;
};

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("KESTROVA_VIEWER")) << "the CTest registration sets it";
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "source tools/headless-env.sh before running";
        ASSERT_TRUE(content.isValid());
    }

    // PATH with our stand-in for the firmware tool first.
    QString pathWithFakeTvservice() const
    {
        return QStringLiteral(KESTROVA_SOURCE_DIR "/tests/fixtures/tvservice:") + qEnvironmentVariable("PATH");
    }

    QTemporaryDir content;
};

} // namespace

TEST_F(ClientTest, FullScreenWindowWithTheIdleImage)
{
    ViewerProcess viewer;
    ASSERT_TRUE(viewer.start({content.path()}, logToStderr)) << viewer.errorString().toStdString();
    ASSERT_TRUE(viewer.waitForStandardError(startedText + content.path(), startTimeout))
        << viewer.standardError().toStdString();
    EXPECT_TRUE(viewer.standardError().contains(QStringLiteral("Player resolution: 1920x1080")));

    // The bare X root is a grey weave; the window must cover all of it, black.
    QTemporaryDir shots;
    const QImage shot = testsupport::waitForScreen(
        shots.filePath(QStringLiteral("screen.png")),
        [](const QImage& shot) { return shot.pixel(0, 0) == qRgb(0, 0, 0) && shot.pixel(1919, 1079) == qRgb(0, 0, 0); },
        10s);
    ASSERT_FALSE(shot.isNull()) << "no screenshot";
    ASSERT_EQ(shot.size(), QSize(1920, 1080));
    int notBlack = 0;
    for (int y = 0; y < shot.height(); y += 7)
        for (int x = 0; x < shot.width(); x += 7)
            notBlack += shot.pixel(x, y) != qRgb(0, 0, 0);
    EXPECT_EQ(notBlack, 0);
    EXPECT_FALSE(viewer.standardError().contains(QStringLiteral("KestrovaBlack"))) << "the idle image loads";

    // It keeps running until stopped.
    EXPECT_FALSE(viewer.waitForExit(2s).finished);
}

TEST_F(ClientTest, RotationFromTheContentFolder)
{
    ASSERT_TRUE(writeFile(content.filePath(QStringLiteral(".rotation")), "1\n"));
    ViewerProcess viewer;
    // QML's console.log is a debug message: visible from verbosity 1.
    ASSERT_TRUE(viewer.start({content.path()}, logToStderr + QStringList{QStringLiteral("GLOG_v=1")}))
        << viewer.errorString().toStdString();
    ASSERT_TRUE(viewer.waitForStandardError(startedText, startTimeout)) << viewer.standardError().toStdString();
    EXPECT_TRUE(viewer.standardError().contains(QStringLiteral("] Viewer rotation:1\n")))
        << viewer.standardError().toStdString();

    // A change while running reaches QML, which logs the window size again.
    ASSERT_TRUE(writeFile(content.filePath(QStringLiteral(".rotation")), "2\n"));
    EXPECT_TRUE(viewer.waitForStandardError(QStringLiteral("Viewer resolution: 1920x1080"), 30s))
        << viewer.standardError().toStdString();
}

TEST_F(ClientTest, KeepAlivePingsOnlyWithTheWatchdogOption)
{
    const struct {
        const char* name;
        QStringList options;
        bool pings;
    } cases[] = {
        {"with -w", {QStringLiteral("-w")}, true},
        {"without -w", {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NotifySocket notify;
        ASSERT_TRUE(notify.isBound());
        ViewerProcess viewer;
        ASSERT_TRUE(viewer.start(c.options + QStringList{content.path()},
                                 logToStderr + QStringList{QStringLiteral("NOTIFY_SOCKET=") + notify.path(),
                                                           QStringLiteral("GLOG_v=1")}))
            << viewer.errorString().toStdString();
        ASSERT_TRUE(viewer.waitForStandardError(startedText, startTimeout)) << viewer.standardError().toStdString();
        const QStringList datagrams = notify.receiveFor(3500ms);
        if (c.pings) {
            // One during start-up, then one a second from the QML timer.
            EXPECT_GE(datagrams.size(), 3) << datagrams.join(' ').toStdString();
            for (const QString& datagram : datagrams)
                EXPECT_EQ(datagram, "WATCHDOG=1");
        } else {
            EXPECT_TRUE(datagrams.isEmpty()) << datagrams.join(' ').toStdString();
        }
        // The web engine watchdog is told either way.
        EXPECT_TRUE(viewer.standardError().contains(QStringLiteral("WebEngineWatchdog notified")))
            << viewer.standardError().toStdString();
    }
}

TEST_F(ClientTest, GuiAndRenderThreadsRunOnCpuOneAtRealtimePriority)
{
    ViewerProcess viewer;
    ASSERT_TRUE(viewer.start({content.path()}, logToStderr + QStringList{QStringLiteral("GLOG_v=1")}))
        << viewer.errorString().toStdString();
    ASSERT_TRUE(viewer.waitForStandardError(QStringLiteral("Set CPU affinity forRenderto2"), startTimeout))
        << viewer.standardError().toStdString();
    // The GUI thread's name is too long for the system, so it keeps its own.
    EXPECT_TRUE(viewer.standardError().contains(QStringLiteral("Set CPU affinity forkestrova-client appto2")));
    EXPECT_TRUE(viewer.standardError().contains(QStringLiteral("Set realtime priority49forkestrova-client app")));
    ASSERT_TRUE(viewer.waitForStandardError(QStringLiteral("Set realtime priority49forRender"), startTimeout));

    const auto gui = threadPlacement(viewer.pid(), QString::number(viewer.pid()));
    ASSERT_TRUE(gui.has_value());
    EXPECT_EQ(gui->policy, 1) << "SCHED_FIFO";
    EXPECT_EQ(gui->rtPriority, 49);
    EXPECT_EQ(gui->cpus, "1");

    std::optional<ThreadPlacement> render;
    for (const QString& tid : QDir(QStringLiteral("/proc/%1/task").arg(viewer.pid())).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const auto placement = threadPlacement(viewer.pid(), tid);
        if (placement && placement->name == "Render")
            render = placement;
    }
    ASSERT_TRUE(render.has_value()) << "no thread named Render";
    EXPECT_EQ(render->policy, 1);
    EXPECT_EQ(render->rtPriority, 49);
    EXPECT_EQ(render->cpus, "1");
}

TEST_F(ClientTest, FrameTimingAtVerbosityTwo)
{
    ViewerProcess viewer;
    ASSERT_TRUE(viewer.start({content.path()}, logToStderr + QStringList{QStringLiteral("GLOG_v=2")}))
        << viewer.errorString().toStdString();
    EXPECT_TRUE(viewer.waitForStandardError(QStringLiteral("] rendered 1 frames in "), startTimeout))
        << viewer.standardError().toStdString();
}

TEST_F(ClientTest, ResolutionCheckShortlyAfterBoot)
{
    struct Case {
        const char* name;
        QByteArray uptime;
        QString tvservice; // what the firmware tool reports
        QString uptimeLine;
        QString outcome;   // log text that settles the case
        bool exits;
    };
    const Case cases[] = {
        {"mismatch restarts", "120.48 230.11\n", QStringLiteral("state 0x12000a [HDMI CEA (4) RGB lim 16:9], 1280x720 @ 60.00Hz, progressive"),
         QStringLiteral("Uptime is 120 seconds. Starting resolution checker"),
         QStringLiteral("Resolution reported by tvservice: (1280, 720) does not match viewer resolution: (1920, 1080). Restarting."),
         true},
        {"match keeps running", "12.00 20.00\n", QStringLiteral("state 0x12000a [HDMI CEA (16) RGB lim 16:9], 1920x1080 @ 60.00Hz, progressive"),
         QStringLiteral("Uptime is 12 seconds. Starting resolution checker"),
         QStringLiteral("Resolution reported by tvservice: 1920x1080."), false},
        {"too long after boot", "181.20 20.00\n", QString(), QStringLiteral("Uptime is 181 seconds. Skipping resolution checker"),
         QString(), false},
        {"unreadable uptime", "not a number\n", QString(), QStringLiteral("Uptime is -1 seconds. Skipping resolution checker"),
         QStringLiteral("Failed to parse uptime from /proc/uptime"), false},
    };
    // Each viewer gets its own uptime in turn, then all wait for their checks together.
    QTemporaryDir outputs;
    std::vector<std::unique_ptr<ViewerProcess>> viewers;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeUptime uptime(c.uptime);
        ASSERT_TRUE(uptime.isMounted());
        const QString report = outputs.filePath(QString::fromLatin1(c.name));
        ASSERT_TRUE(writeFile(report, c.tvservice.toLatin1()));
        auto viewer = std::make_unique<ViewerProcess>();
        viewer->environment().insert(QStringLiteral("PATH"), pathWithFakeTvservice());
        ASSERT_TRUE(viewer->start({content.path()}, logToStderr + QStringList{QStringLiteral("FAKE_TVSERVICE_OUTPUT=") + report}))
            << viewer->errorString().toStdString();
        ASSERT_TRUE(viewer->waitForStandardError(startedText, startTimeout)) << viewer->standardError().toStdString();
        EXPECT_TRUE(viewer->standardError().contains(c.uptimeLine)) << viewer->standardError().toStdString();
        viewers.push_back(std::move(viewer));
    }
    for (size_t i = 0; i < viewers.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        ViewerProcess& viewer = *viewers[i];
        if (!c.outcome.isEmpty()) {
            EXPECT_TRUE(viewer.waitForStandardError(c.outcome, 90s)) << viewer.standardError().toStdString();
        }
        if (c.exits) {
            const auto exit = viewer.waitForExit(30s);
            EXPECT_TRUE(exit.finished);
            EXPECT_FALSE(exit.crashed);
            EXPECT_EQ(exit.code, 255);
        } else {
            EXPECT_FALSE(viewer.waitForExit(2s).finished) << viewer.standardError().toStdString();
            EXPECT_FALSE(viewer.standardError().contains(QStringLiteral("Restarting.")));
        }
    }
}
