// The one object that owns the running system: builds the long-lived objects in a fixed
// order, publishes them to QML, loads the main window and arms the periodic checks.
#pragma once

#include "kestrovaconfig.h"
#include "playbackcontrol.h"
#include "playlist.h"
#include "timeline.h"
#include "viewer.h"

#include <QObject>
#include <QQmlApplicationEngine>
#include <QSize>

#include <atomic>

class QQuickWindow;
class ScreenshotProvider;
class SurfaceFactory;

class KestrovaClient : public QObject {
    Q_OBJECT
public:
    explicit KestrovaClient(const KestrovaConfig& config, QObject* parent = nullptr);

    QQmlApplicationEngine* engine() { return &m_engine; }
    Playlist* playlist() { return &m_playlist; }
    Viewer* viewer() { return &m_viewer; }
    Timeline* timeline() { return &m_timeline; }
    PlaybackControl* playbackControl() { return &m_playbackControl; }
    QQuickWindow* appWindow() const { return m_appWindow; }

    // The daily restart is due once the viewer has run for more than 24 hours and the
    // local time is between 04:00 and 05:59.
    static bool isDailyRestartDue(qint64 timelineMs, int localHour);
    // Whole seconds of system uptime from a /proc/uptime style file; -1 (with an ERROR
    // line) when it cannot be read or parsed.
    static qint64 readUptime(const QString& path = QStringLiteral("/proc/uptime"));

private:
    void loadApp();
    void checkDailyRestart();
    void startResolutionCheckAfterBoot();
    void compareResolution(const QSize& reported);
    void quitAfterPlayedBuilds(int count);

    QQmlApplicationEngine m_engine;
    Playlist m_playlist;
    ScreenshotProvider* m_screenshotProvider; // owned by the engine once registered
    Viewer m_viewer;
    SurfaceFactory* m_surfaceFactory;
    Timeline m_timeline;
    QQuickWindow* m_appWindow = nullptr;
    std::atomic<qint64> m_renderedFrames{0};
    qint64 m_frameCountStart = 0;
    QSize m_windowSize;
    PlaybackControl m_playbackControl;
    int m_playedBuilds = 0;
};
