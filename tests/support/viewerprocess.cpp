#include "viewerprocess.h"

#include <QDeadlineTimer>

#include <algorithm>

#include <signal.h>

namespace testsupport {

ViewerProcess::ViewerProcess()
    : m_environment(QProcessEnvironment::systemEnvironment())
{
    // Waits wake on stderr, where the program logs; stdout is still collected.
    m_process.setReadChannel(QProcess::StandardError);
}

ViewerProcess::~ViewerProcess()
{
    stop();
}

bool ViewerProcess::start(const QStringList& arguments, const QStringList& extraEnvironment)
{
    const QString program = qEnvironmentVariable("KESTROVA_VIEWER");
    if (program.isEmpty()) {
        m_error = QStringLiteral("KESTROVA_VIEWER is not set");
        return false;
    }
    QProcessEnvironment environment = m_environment;
    for (const QString& entry : extraEnvironment) {
        const int equals = entry.indexOf(QLatin1Char('='));
        if (equals > 0)
            environment.insert(entry.left(equals), entry.mid(equals + 1));
    }
    m_process.setProcessEnvironment(environment);
    m_process.start(program, arguments);
    if (!m_process.waitForStarted(10000)) {
        m_error = program + QStringLiteral(": ") + m_process.errorString();
        return false;
    }
    m_pid = m_process.processId();
    return true;
}

QString ViewerProcess::standardOutput()
{
    collect(0);
    return QString::fromUtf8(m_stdout);
}

QString ViewerProcess::standardError()
{
    collect(0);
    return QString::fromUtf8(m_stderr);
}

bool ViewerProcess::waitForStandardError(const QString& text, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout.count());
    for (;;) {
        collect(0);
        if (QString::fromUtf8(m_stderr).contains(text))
            return true;
        if (m_process.state() == QProcess::NotRunning || deadline.hasExpired())
            return false;
        collect(int(std::min<qint64>(deadline.remainingTime(), 100)));
    }
}

bool ViewerProcess::sendSignal(int signal)
{
    return m_pid > 0 && m_process.state() != QProcess::NotRunning && ::kill(pid_t(m_pid), signal) == 0;
}

ViewerProcess::Exit ViewerProcess::waitForExit(std::chrono::milliseconds timeout)
{
    if (m_process.state() != QProcess::NotRunning)
        m_process.waitForFinished(int(timeout.count()));
    collect(-1);
    Exit exit;
    if (m_pid == 0 || m_process.state() != QProcess::NotRunning)
        return exit;
    exit.finished = true;
    exit.crashed = m_process.exitStatus() == QProcess::CrashExit;
    exit.code = m_process.exitCode();
    return exit;
}

void ViewerProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    collect(-1);
}

void ViewerProcess::collect(int waitMsecs)
{
    if (waitMsecs >= 0 && m_process.state() != QProcess::NotRunning)
        m_process.waitForReadyRead(waitMsecs);
    m_stdout += m_process.readAllStandardOutput();
    m_stderr += m_process.readAllStandardError();
}

} // namespace testsupport
