// Asks the display tool once, a while after start-up, which resolution the screen runs at.
#pragma once

#include <QObject>
#include <QSize>

class QThread;

// Runs "tvservice -s" and reads the resolution from its answer; lives in the checker's thread.
class ResolutionCheckerHelper : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Blocks for as long as the tool runs (at most 30 s). Emits only when the answer names
    // a resolution.
    void obtainReportedResolution();

signals:
    void resolutionObtained(QSize size);
};

class ResolutionChecker : public QObject {
    Q_OBJECT
public:
    explicit ResolutionChecker(QObject* parent = nullptr);
    // Waits for a check in progress to end, so the thread never outlives its object.
    ~ResolutionChecker() override;

    // One check, delay ms from now, away from the GUI thread. Meant to be called once.
    void startCheckingResolution(int delay);

signals:
    // Delivered in the thread the checker lives in.
    void screenResolutionReceived(QSize size);
    void start();

private:
    QThread* thread;
    ResolutionCheckerHelper* worker;
};
