#include "viewer.h"

#include "configfile.h"
#include "logging.h"

#include <QDir>
#include <QMetaObject>

#include <cstdlib>

Viewer::Viewer(const QString& contentPath, WatchdogNotifier notifier, QObject* parent)
    : QObject(parent)
    , rotationWatcher(new RotationWatcher(contentPath + QStringLiteral("/.rotation"), this))
    , rotationAngle(rotationWatcher->readRotationAngle())
    , audioOutputValue(HDMI)
    , contentPath(contentPath)
    , notifier(notifier)
    , webEngineWatchdog(nullptr)
{
    connect(rotationWatcher, &RotationWatcher::rotationChanged, this, &Viewer::updateRotation);
    rotationWatcher->watch();

    this->notifier.notify();

    // The watchdog must keep running when the GUI thread hangs, so it gets a thread of
    // its own. It is deleted on that thread once the thread's loop has ended.
    webEngineWatchdog = new WebEngineWatchdog(nullptr);
    webEngineWatchdog->moveToThread(&watchdogThread);
    connect(&watchdogThread, &QThread::started, webEngineWatchdog, &WebEngineWatchdog::start,
            Qt::QueuedConnection);
    connect(&watchdogThread, &QThread::finished, webEngineWatchdog, &QObject::deleteLater);
    watchdogThread.start();
}

Viewer::~Viewer()
{
    watchdogThread.quit();
    watchdogThread.wait();
}

int Viewer::rotation() const
{
    return rotationAngle;
}

void Viewer::updateRotation()
{
    const int angle = rotationWatcher->readRotationAngle();
    if (angle == rotationAngle)
        return;
    rotationAngle = angle;
    emit rotationChanged();
}

int Viewer::audioOutput()
{
    const QString text = readConfigFileContent(contentPath, QStringLiteral(".audio_output"));
    if (text.isEmpty()) {
        LOG(WARNING) << "Unable to get audio output from the config file";
        LOG(WARNING) << "Audio output will use the current value: " << audioOutputValue;
        return audioOutputValue;
    }
    audioOutputValue = text == QLatin1String("hdmi") ? HDMI : Analog;
    VLOG(1) << "Audio output value set from the config file: " << audioOutputValue;
    return audioOutputValue;
}

void Viewer::exit(int exitCode)
{
    ::exit(exitCode);
}

QUrl Viewer::resolvePathToAsset(QString relativeAssetPath)
{
    return QUrl::fromLocalFile(
        QDir(contentPath + QStringLiteral("/slides")).absoluteFilePath(relativeAssetPath));
}

void Viewer::notify()
{
    notifier.notify();
    if (!QMetaObject::invokeMethod(webEngineWatchdog, "notify", Qt::QueuedConnection))
        LOG(WARNING) << "Unable to invoke notify on the WebEngineWatchdog";
}
