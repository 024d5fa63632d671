// Keeps the web engine's child processes in check from a thread of its own: every 10 s it
// kills the least memory-hungry "QtWebEngineProcess" child when there are more than three,
// or when the GUI thread has been silent for over 30 s.
#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <chrono>

class QTimer;

struct ProcessInfo {
    int pid = 0;
    qint64 memory = 0; // first field of /proc/<pid>/statm: total program size in pages
    QString cmdline;   // NUL bytes replaced by spaces
};

// The live (non-zombie) children of parentPid whose command line contains "QtWebEngineProcess".
QList<ProcessInfo> gatherChildrenInfo(int parentPid);

class WebEngineWatchdog : public QObject {
    Q_OBJECT
public:
    explicit WebEngineWatchdog(QObject* parent = nullptr);

    void watchdogTimeout();
    void checkAndKillExcessQtWebengines();
    void killLeastMemoryUsing();
    void forceKill(int pid);

public slots:
    void start();
    void notify();

private slots:
    void tick();

protected:
    // The clock silence is measured with; tests replace it to skip ahead.
    virtual std::chrono::steady_clock::time_point now() const;

private:
    std::chrono::steady_clock::time_point m_lastNotify;
    QTimer* m_timer;
    unsigned m_kills = 0;
};
