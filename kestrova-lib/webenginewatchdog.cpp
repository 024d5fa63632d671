#include "webenginewatchdog.h"

#include "logging.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kTickMsecs = 10000;
constexpr std::chrono::nanoseconds kSilenceLimit(30000000000);
constexpr int kMaxWebEngines = 3;
constexpr std::chrono::milliseconds kSignalGrace(500);

// First line of a /proc file without its line break; false if the file cannot be opened.
bool readFirstLine(const QString& path, QByteArray& line)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    line = file.readLine();
    if (line.endsWith('\n'))
        line.chop(1);
    return true;
}

} // namespace

QList<ProcessInfo> gatherChildrenInfo(int parentPid)
{
    QList<ProcessInfo> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& entry : entries) {
        bool isNumber = false;
        const int pid = entry.toInt(&isNumber, 10);
        if (!isNumber || pid == 0)
            continue;

        // Processes come and go while we look: whatever cannot be read any more is skipped.
        QFile cmdlineFile(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdlineFile.open(QIODevice::ReadOnly))
            continue;
        QByteArray cmdlineBytes = cmdlineFile.readAll();
        cmdlineBytes.replace('\0', ' ');
        const QString cmdline = QString::fromUtf8(cmdlineBytes);
        if (!cmdline.contains(QLatin1String("QtWebEngineProcess")))
            continue;

        QByteArray statLine;
        QByteArray statmLine;
        if (!readFirstLine(QStringLiteral("/proc/%1/stat").arg(pid), statLine)
            || !readFirstLine(QStringLiteral("/proc/%1/statm").arg(pid), statmLine))
            continue;
        // A command name with spaces in it shifts the fields; such a process is simply not
        // recognised as ours.
        const QList<QByteArray> stat = statLine.split(' ');
        const qint64 memory = statmLine.split(' ').value(0).toLongLong();
        if (stat.size() > 3) {
            const QByteArray& state = stat.at(2);
            const int parent = stat.at(3).toInt();
            if (state != "Z" && parent == parentPid)
                children.append({pid, memory, cmdline});
        }
    }
    return children;
}

WebEngineWatchdog::WebEngineWatchdog(QObject* parent)
    : QObject(parent)
    , m_lastNotify(std::chrono::steady_clock::now())
    , m_timer(new QTimer(this))
{
    // A child of the watchdog, so it moves along to the watchdog's thread.
    m_timer->setInterval(kTickMsecs);
    connect(m_timer, &QTimer::timeout, this, &WebEngineWatchdog::tick);
}

void WebEngineWatchdog::start()
{
    m_timer->start();
}

void WebEngineWatchdog::notify()
{
    VLOG(1) << "WebEngineWatchdog notified";
    m_lastNotify = now();
}

std::chrono::steady_clock::time_point WebEngineWatchdog::now() const
{
    return std::chrono::steady_clock::now();
}

void WebEngineWatchdog::tick()
{
    // The last notification is left as it is, so a GUI thread that stays silent costs
    // another child every tick.
    if (now() - m_lastNotify > kSilenceLimit)
        watchdogTimeout();
    checkAndKillExcessQtWebengines();
}

void WebEngineWatchdog::watchdogTimeout()
{
    killLeastMemoryUsing();
}

void WebEngineWatchdog::checkAndKillExcessQtWebengines()
{
    if (gatherChildrenInfo(getpid()).size() > kMaxWebEngines)
        killLeastMemoryUsing();
}

void WebEngineWatchdog::killLeastMemoryUsing()
{
    const QList<ProcessInfo> children = gatherChildrenInfo(getpid());
    if (children.isEmpty())
        return;
    const ProcessInfo* least = &children.first();
    for (const ProcessInfo& child : children) {
        if (child.memory < least->memory)
            least = &child;
    }
    LOG(WARNING) << "Killing the child process with PID:" << least->pid << " using the least memory. CMD: "
                 << least->cmdline;
    forceKill(least->pid);
}

void WebEngineWatchdog::forceKill(int pid)
{
    ++m_kills;
    if (kill(pid, SIGTERM) == 0) {
        LOG(WARNING) << "Sent SIGTERM to process with PID:" << pid;
        std::this_thread::sleep_for(kSignalGrace);
    }
    LOG(WARNING) << "Total kills: " << m_kills;

    // Anything but "still running" means there is nothing left to wait for: ended, or not
    // (any more) our child.
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != 0) {
        LOG(WARNING) << "Process with PID:" << pid << "terminated successfully with SIGTERM";
        return;
    }

    if (kill(pid, SIGABRT) == 0) {
        LOG(WARNING) << "Sent SIGABRT to process with PID:" << pid;
        std::this_thread::sleep_for(kSignalGrace);
    }
    if (waitpid(pid, &status, WNOHANG) != 0) {
        LOG(WARNING) << "Process with PID:" << pid << "terminated successfully with SIGABRT";
        return;
    }

    if (kill(pid, SIGKILL) == 0) {
        LOG(WARNING) << "Sent SIGKILL to process with PID:" << pid;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}
