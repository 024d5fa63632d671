// The viewer's face towards QML (published as "Viewer"): screen rotation, audio route,
// asset paths, keep-alives and the way out.
#pragma once

#include "rotationwatcher.h"
#include "watchdognotifier.h"
#include "webenginewatchdog.h"

#include <QObject>
#include <QString>
#include <QThread>
#include <QUrl>

class Viewer : public QObject {
    Q_OBJECT
    Q_PROPERTY(int rotation READ rotation NOTIFY rotationChanged)
public:
    enum AudioOutput { Analog = 0, HDMI = 1 };
    Q_ENUM(AudioOutput)

    Viewer(const QString& contentPath, WatchdogNotifier notifier, QObject* parent = nullptr);
    ~Viewer() override;

    // Screen rotation in degrees: 0, 90, 180 or 270.
    int rotation() const;

    // The route from ".audio_output" in the content folder, read on every call; while the
    // file has nothing to say, the last route stays.
    Q_INVOKABLE int audioOutput();
    // Ends the process right away; nothing is torn down.
    Q_INVOKABLE void exit(int exitCode);
    // A slide's asset path as a file URL, relative paths taken from the slides folder.
    Q_INVOKABLE QUrl resolvePathToAsset(QString relativeAssetPath);
    // Keep-alive from the GUI thread, to the service manager and the web engine watchdog.
    Q_INVOKABLE void notify();

signals:
    void rotationChanged();

private:
    void updateRotation();

    RotationWatcher* rotationWatcher;
    int rotationAngle;
    int audioOutputValue;
    QString contentPath;
    WatchdogNotifier notifier;
    WebEngineWatchdog* webEngineWatchdog;
    QThread watchdogThread;
};
