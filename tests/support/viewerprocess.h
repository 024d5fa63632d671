// The real kestrova-viewer binary as a child of the test: started from the path in
// KESTROVA_VIEWER, its output collected, stopped for sure when the helper goes away.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>

namespace testsupport {

class ViewerProcess {
public:
    struct Exit {
        bool finished = false; // false: still running when the wait ended
        bool crashed = false;  // ended by a signal
        int code = -1;         // exit code, or the signal number when crashed
    };

    ViewerProcess();
    // Stops the viewer if it still runs.
    ~ViewerProcess();
    ViewerProcess(const ViewerProcess&) = delete;
    ViewerProcess& operator=(const ViewerProcess&) = delete;

    // The environment the viewer starts with: the test's own until changed.
    QProcessEnvironment& environment() { return m_environment; }

    // Starts the viewer; extraEnvironment entries ("NAME=value") are added on top of
    // environment(). False if KESTROVA_VIEWER is unset or the binary did not start.
    bool start(const QStringList& arguments, const QStringList& extraEnvironment = {});
    // Why start() failed.
    QString errorString() const { return m_error; }

    qint64 pid() const { return m_pid; }

    // Everything the viewer wrote so far.
    QString standardOutput();
    QString standardError();

    // Whether the text appears in stderr before the timeout (or before the viewer ends).
    bool waitForStandardError(const QString& text, std::chrono::milliseconds timeout);

    bool sendSignal(int signal);
    Exit waitForExit(std::chrono::milliseconds timeout);

    // SIGTERM, then SIGKILL if the viewer has not ended after a few seconds.
    void stop();

private:
    void collect(int waitMsecs);

    QProcessEnvironment m_environment;
    QProcess m_process;
    QString m_error;
    qint64 m_pid = 0;
    QByteArray m_stdout;
    QByteArray m_stderr;
};

} // namespace testsupport
