// The web engine watchdog against real child processes of the test: which children it
// finds, how it kills them and when. Only the test's own children count, so other
// processes on the machine do not matter.
#include "webenginewatchdog.h"

#include "logcapture.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using testsupport::LogCapture;
using testsupport::Verbosity;
using namespace std::chrono_literals;

namespace {

// Whether pid is a child of ours that has not been reaped yet (it may have ended).
bool isOurs(int pid)
{
    siginfo_t info{};
    return waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0;
}

bool isRunning(int pid)
{
    siginfo_t info{};
    return waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

// The helper program started as a child of the test, under whatever argv[0] says. Killed
// and reaped when it goes away, unless the watchdog has reaped it already.
class Child {
public:
    explicit Child(std::vector<std::string> argv)
        : m_argv(std::move(argv))
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        std::vector<char*> args;
        for (std::string& arg : m_argv)
            args.push_back(arg.data());
        args.push_back(nullptr);
        pid_t pid = 0;
        const int error = posix_spawn(&pid, WATCHDOG_HELPER, &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (error == 0) {
            m_pid = pid;
            m_ready = waitUntilReady(fds[0]);
        }
        close(fds[0]);
    }

    ~Child()
    {
        if (m_pid > 0 && isOurs(m_pid)) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }

    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool ready() const { return m_ready; }
    int pid() const { return m_pid; }
    std::string pidText() const { return std::to_string(m_pid); }
    // The helper's own child, when started with "fork".
    int grandchild() const { return m_grandchild; }

    // As /proc shows it, each NUL turned into a space.
    QString cmdline() const
    {
        QString text;
        for (const std::string& arg : m_argv)
            text += QString::fromStdString(arg) + QLatin1Char(' ');
        return text;
    }

private:
    bool waitUntilReady(int fd)
    {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (line.find('\n') == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0)
                return false;
            char buffer[64];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            line.append(buffer, size_t(n));
        }
        return std::sscanf(line.c_str(), "ready %d", &m_grandchild) == 1;
    }

    std::vector<std::string> m_argv;
    int m_pid = 0;
    int m_grandchild = 0;
    bool m_ready = false;
};

using Children = std::vector<std::unique_ptr<Child>>;

Child& spawn(Children& children, std::vector<std::string> argv)
{
    children.push_back(std::make_unique<Child>(std::move(argv)));
    return *children.back();
}

// A web engine stand-in whose program size is about mib MiB above the helper's own.
Child& spawnWebEngine(Children& children, int mib, std::vector<std::string> extra = {})
{
    std::vector<std::string> argv = {"/usr/lib/qt5/libexec/QtWebEngineProcess", "--type=renderer",
                                     "mib=" + std::to_string(mib)};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return spawn(children, argv);
}

// What choosing and killing a child that ends on SIGTERM writes into the log.
std::vector<std::string> leastMemoryKill(const Child& child, unsigned totalKills)
{
    return {"W:Killing the child process with PID:" + child.pidText() + " using the least memory. CMD: "
                + child.cmdline().toStdString(),
            "W:Sent SIGTERM to process with PID:" + child.pidText(),
            "W:Total kills: " + std::to_string(totalKills),
            "W:Process with PID:" + child.pidText() + "terminated successfully with SIGTERM"};
}

// State letter from /proc/<pid>/stat, read the careful way.
char processState(int pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return '?';
    const QByteArray line = file.readLine();
    const int close = line.lastIndexOf(')');
    return close >= 0 && close + 2 < line.size() ? line.at(close + 2) : '?';
}

// Runs on a thread of its own with a clock that moves only when told to.
class SteppedClockWatchdog : public WebEngineWatchdog {
public:
    void advance(std::chrono::nanoseconds by) { m_offset += by.count(); }

protected:
    std::chrono::steady_clock::time_point now() const override
    {
        return m_origin + std::chrono::nanoseconds(m_offset.load());
    }

private:
    const std::chrono::steady_clock::time_point m_origin = std::chrono::steady_clock::now();
    std::atomic<std::chrono::nanoseconds::rep> m_offset{0};
};

// The watchdog set up as the viewer does it: moved to its own thread, driven by queued calls.
class WatchdogThread {
public:
    WatchdogThread()
        : m_watchdog(new SteppedClockWatchdog)
        , m_timer(m_watchdog->findChild<QTimer*>())
    {
        m_watchdog->moveToThread(&m_thread);
        // Deleted on its own thread once the loop has ended, its timer with it.
        QObject::connect(&m_thread, &QThread::finished, m_watchdog, &QObject::deleteLater);
        m_thread.start();
    }

    ~WatchdogThread()
    {
        m_thread.quit();
        m_thread.wait();
    }

    SteppedClockWatchdog& watchdog() { return *m_watchdog; }
    QTimer* timer() { return m_timer; }
    QThread& thread() { return m_thread; }

    // Queues the call as the viewer does, then waits until it has run.
    void call(const char* slot)
    {
        EXPECT_TRUE(QMetaObject::invokeMethod(m_watchdog, slot, Qt::QueuedConnection)) << slot;
        QMetaObject::invokeMethod(m_watchdog, [] {}, Qt::BlockingQueuedConnection);
    }

    // One timeout of the watchdog's timer, handled on the watchdog's thread before this returns.
    void tick() { EXPECT_TRUE(QMetaObject::invokeMethod(m_timer, "timeout", Qt::BlockingQueuedConnection)); }

private:
    QThread m_thread;
    SteppedClockWatchdog* m_watchdog;
    QTimer* m_timer;
};

} // namespace

TEST(GatherChildrenInfo, ListsTheLiveWebEngineChildrenOfTheParentOnly)
{
    struct Case {
        const char* name;
        std::vector<std::string> argv;
        bool listed;
    };
    const Case cases[] = {
        {"bare name", {"QtWebEngineProcess", "--type=renderer", "mib=8"}, true},
        {"full path, larger", {"/usr/lib/qt5/libexec/QtWebEngineProcess", "--type=gpu-process", "mib=40"}, true},
        {"name in a later argument", {"webengine-launcher", "--exec=QtWebEngineProcess"}, true},
        {"with a web engine child of its own", {"QtWebEngineProcess", "fork"}, true},
        {"another program", {"chromium", "--type=renderer"}, false},
        {"name in lower case", {"qtwebengineprocess"}, false},
    };
    Children children;
    std::vector<const Child*> listed;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Child& child = spawn(children, c.argv);
        ASSERT_TRUE(child.ready());
        if (c.listed)
            listed.push_back(&child);
    }
    const Child& small = *children[0];
    const Child& large = *children[1];
    const Child& forking = *children[3];

    // Ended but not reaped yet.
    Child& zombie = spawnWebEngine(children, 8);
    ASSERT_TRUE(zombie.ready());
    kill(zombie.pid(), SIGKILL);
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, zombie.pid(), &info, WEXITED | WNOWAIT), 0);
    ASSERT_EQ(processState(zombie.pid()), 'Z');

    // /proc is walked in the string order of its entries.
    std::sort(listed.begin(), listed.end(),
              [](const Child* a, const Child* b) { return a->pidText() < b->pidText(); });
    const QList<ProcessInfo> found = gatherChildrenInfo(getpid());
    ASSERT_EQ(size_t(found.size()), listed.size());
    for (size_t i = 0; i < listed.size(); ++i) {
        SCOPED_TRACE(listed[i]->cmdline().toStdString());
        EXPECT_EQ(found[int(i)].pid, listed[i]->pid());
        EXPECT_EQ(found[int(i)].cmdline, listed[i]->cmdline());
        EXPECT_GT(found[int(i)].memory, 0);
    }

    // The program size, in pages: the 32 MiB between the two must show.
    const auto memoryOf = [&](const Child& child) {
        for (const ProcessInfo& process : found)
            if (process.pid == child.pid())
                return process.memory;
        return qint64(-1);
    };
    EXPECT_GE(memoryOf(large) - memoryOf(small), (qint64(32) << 20) / sysconf(_SC_PAGESIZE));

    // The forking child's own child belongs to it, not to us; and has no children itself.
    const QList<ProcessInfo> grandchildren = gatherChildrenInfo(forking.pid());
    ASSERT_EQ(grandchildren.size(), 1);
    EXPECT_EQ(grandchildren[0].pid, forking.grandchild());
    EXPECT_EQ(grandchildren[0].cmdline, forking.cmdline());
    EXPECT_TRUE(gatherChildrenInfo(forking.grandchild()).isEmpty());
}

TEST(WebEngineWatchdog, MoreThanThreeWebEnginesCostTheSmallestOneAtATime)
{
    Children children;
    for (int mib : {24, 8, 32})
        ASSERT_TRUE(spawnWebEngine(children, mib).ready());
    WebEngineWatchdog watchdog;
    LogCapture log;

    watchdog.checkAndKillExcessQtWebengines();
    EXPECT_EQ(log.summary(), std::vector<std::string>{});
    for (const auto& child : children)
        EXPECT_TRUE(isRunning(child->pid())) << child->pid();

    ASSERT_TRUE(spawnWebEngine(children, 16).ready());
    watchdog.checkAndKillExcessQtWebengines();
    EXPECT_EQ(log.summary(), leastMemoryKill(*children[1], 1));
    EXPECT_FALSE(isOurs(children[1]->pid())) << "left unreaped";
    for (size_t i : {0, 2, 3})
        EXPECT_TRUE(isRunning(children[i]->pid())) << children[i]->pid();

    // Two too many still cost one child per check.
    for (int mib : {12, 20})
        ASSERT_TRUE(spawnWebEngine(children, mib).ready());
    log.clear();
    watchdog.checkAndKillExcessQtWebengines();
    EXPECT_EQ(log.summary(), leastMemoryKill(*children[4], 2));
    EXPECT_FALSE(isOurs(children[4]->pid())) << "left unreaped";
    for (size_t i : {0, 2, 3, 5})
        EXPECT_TRUE(isRunning(children[i]->pid())) << children[i]->pid();
}

TEST(WebEngineWatchdog, ForceKillEscalatesUntilTheChildIsGone)
{
    struct Case {
        const char* name;
        std::vector<std::string> ignored;
        std::vector<std::string> log; // <pid> and <n> stand for the pid and the kill count
    };
    const Case cases[] = {
        {"ends on SIGTERM", {},
         {"W:Sent SIGTERM to process with PID:<pid>", "W:Total kills: <n>",
          "W:Process with PID:<pid>terminated successfully with SIGTERM"}},
        {"ignores SIGTERM", {"ignore=TERM"},
         {"W:Sent SIGTERM to process with PID:<pid>", "W:Total kills: <n>", "W:Sent SIGABRT to process with PID:<pid>",
          "W:Process with PID:<pid>terminated successfully with SIGABRT"}},
        {"ignores SIGTERM and SIGABRT", {"ignore=TERM", "ignore=ABRT"},
         {"W:Sent SIGTERM to process with PID:<pid>", "W:Total kills: <n>", "W:Sent SIGABRT to process with PID:<pid>",
          "W:Sent SIGKILL to process with PID:<pid>"}},
    };
    const auto fill = [](std::vector<std::string> lines, int pid, unsigned kills) {
        for (std::string& line : lines) {
            for (const auto& [key, value] : {std::pair<std::string, std::string>{"<pid>", std::to_string(pid)},
                                             std::pair<std::string, std::string>{"<n>", std::to_string(kills)}}) {
                for (size_t at; (at = line.find(key)) != std::string::npos;)
                    line.replace(at, key.size(), value);
            }
        }
        return lines;
    };

    WebEngineWatchdog watchdog;
    unsigned kills = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Children children;
        Child& child = spawnWebEngine(children, 8, c.ignored);
        ASSERT_TRUE(child.ready());
        LogCapture log;
        watchdog.forceKill(child.pid());
        EXPECT_EQ(log.summary(), fill(c.log, child.pid(), ++kills));
        EXPECT_FALSE(isOurs(child.pid())) << "left unreaped";
    }

    // Already ended and reaped: nothing to signal. Pids are handed out in sequence, so this
    // one is not taken again while the test runs.
    int gone = 0;
    {
        Children children;
        Child& child = spawnWebEngine(children, 8);
        ASSERT_TRUE(child.ready());
        gone = child.pid();
    }
    ASSERT_FALSE(isOurs(gone));
    LogCapture log;
    watchdog.forceKill(gone);
    EXPECT_EQ(log.summary(), fill({"W:Total kills: <n>", "W:Process with PID:<pid>terminated successfully with SIGTERM"},
                                  gone, ++kills));
}

TEST(WebEngineWatchdog, SilenceOfMoreThanThirtySecondsCostsAChildEveryTick)
{
    Children children;
    Child& small = spawnWebEngine(children, 8);
    Child& large = spawnWebEngine(children, 16);
    ASSERT_TRUE(small.ready());
    ASSERT_TRUE(large.ready());

    WatchdogThread running;
    ASSERT_NE(running.timer(), nullptr);
    running.call("start");
    bool active = false;
    int interval = 0;
    bool onWatchdogThread = false;
    QMetaObject::invokeMethod(
        running.timer(),
        [&] {
            active = running.timer()->isActive();
            interval = running.timer()->interval();
            onWatchdogThread = QThread::currentThread() == &running.thread();
            // From here on the test gives the ticks itself; a real one would race with them.
            running.timer()->stop();
        },
        Qt::BlockingQueuedConnection);
    EXPECT_TRUE(active);
    EXPECT_EQ(interval, 10000);
    EXPECT_TRUE(onWatchdogThread);

    SteppedClockWatchdog& watchdog = running.watchdog();
    running.call("notify");
    LogCapture log;

    watchdog.advance(30s);
    running.tick();
    EXPECT_EQ(log.summary(), std::vector<std::string>{}) << "exactly 30 s is not too long yet";
    EXPECT_TRUE(isRunning(small.pid()));

    watchdog.advance(1ns);
    running.tick();
    EXPECT_EQ(log.summary(), leastMemoryKill(small, 1));
    EXPECT_FALSE(isOurs(small.pid())) << "left unreaped";
    EXPECT_TRUE(isRunning(large.pid()));

    // Still silent at the next tick.
    log.clear();
    running.tick();
    EXPECT_EQ(log.summary(), leastMemoryKill(large, 2));
    EXPECT_FALSE(isOurs(large.pid())) << "left unreaped";

    Child& fresh = spawnWebEngine(children, 8);
    ASSERT_TRUE(fresh.ready());
    running.call("notify");
    watchdog.advance(30s);
    log.clear();
    running.tick();
    EXPECT_EQ(log.summary(), std::vector<std::string>{});
    EXPECT_TRUE(isRunning(fresh.pid()));

    // Silent with nobody left to kill.
    children.clear();
    watchdog.advance(1h);
    running.tick();
    running.tick();
    EXPECT_EQ(log.summary(), std::vector<std::string>{});
}

TEST(WebEngineWatchdog, NotifyIsLoggedAtVerbosityOne)
{
    struct Case {
        int verbosity;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {0, {}},
        {1, {"I:WebEngineWatchdog notified"}},
        {3, {"I:WebEngineWatchdog notified"}},
    };
    WebEngineWatchdog watchdog;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.verbosity);
        Verbosity verbose(c.verbosity);
        LogCapture log;
        watchdog.notify();
        EXPECT_EQ(log.summary(), c.log);
    }
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    google::InitGoogleLogging(argv[0]);
    // Log lines go next to the test output rather than into files under /tmp.
    FLAGS_logtostderr = true;
    return RUN_ALL_TESTS();
}
