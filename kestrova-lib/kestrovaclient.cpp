#include "kestrovaclient.h"

#include "logging.h"
#include "player.h"
#include "playerutils.h"
#include "resolutionchecker.h"
#include "screenshotprovider.h"
#include "surfacefactory.h"
#include "toplevelwindow.h"

#include <QDateTime>
#include <QFile>
#include <QQmlContext>
#include <QQuickWindow>
#include <QTimer>
#include <QUrl>
#include <QtQml>

#include <cstdlib>

#include <pthread.h>

namespace {
constexpr int kDailyRestartCheckInterval = 1800000; // 30 minutes
constexpr qint64 kDailyRestartMinimumRun = 86400000; // 24 hours
constexpr qint64 kResolutionCheckMaxUptime = 180;    // seconds after boot
constexpr int kResolutionCheckDelay = 30000;
} // namespace

KestrovaClient::KestrovaClient(const KestrovaConfig& config, QObject* parent)
    : QObject(parent)
    , m_playlist(config.content, m_engine, Decrypter(config.decryptionKey.value_or(QString())))
    , m_screenshotProvider(new ScreenshotProvider)
    , m_viewer(config.content, WatchdogNotifier(config.watchdog.value_or(false)), nullptr)
    , m_surfaceFactory(new SurfaceFactory(m_engine, this))
    , m_timeline(nullptr)
    , m_windowSize(config.windowSize.value_or(QSize(-1, -1)))
    , m_playbackControl(m_engine, m_playlist, m_timeline, *m_screenshotProvider, nullptr)
{
    m_engine.addImageProvider(QStringLiteral("screenshot"), m_screenshotProvider);
    m_engine.rootContext()->setContextProperty(QStringLiteral("playlist"), &m_playlist);
    m_engine.rootContext()->setContextProperty(QStringLiteral("surfaceFactory"), m_surfaceFactory);
    m_engine.rootContext()->setContextProperty(QStringLiteral("timeline"), &m_timeline);
    m_engine.rootContext()->setContextProperty(QStringLiteral("playbackControl"), &m_playbackControl);
    m_engine.rootContext()->setContextProperty(QStringLiteral("Viewer"), &m_viewer);

    // "import Kestrova 1.0" resolves to the module file compiled in as Kestrova/qmldir.
    m_engine.addImportPath(QStringLiteral("qrc:///"));
    qmlRegisterUncreatableType<Timeline>("com.kestrova.timeline", 1, 0, "Timeline",
                                         QStringLiteral("Unable to instantiate timeline"));
    registerGstreamerQmlComponent();
    qmlRegisterType<Player>("com.kestrova.player", 1, 0, "Player");

    loadApp();

    auto* dailyRestart = new QTimer(this);
    dailyRestart->setInterval(kDailyRestartCheckInterval);
    connect(dailyRestart, &QTimer::timeout, this, &KestrovaClient::checkDailyRestart);
    dailyRestart->start();

    startResolutionCheckAfterBoot();

    if (config.stopAfter.value_or(0) > 0)
        quitAfterPlayedBuilds(*config.stopAfter);
    m_playbackControl.runStateMachine();
}

void KestrovaClient::quitAfterPlayedBuilds(int count)
{
    // --stop-after n: the nth build has been on screen for its time once it is reported.
    connect(&m_playbackControl, &PlaybackControl::buildPlayed, this, [this, count] {
        if (++m_playedBuilds == count) {
            LOG(INFO) << "Played " << count << " builds. Quitting.";
            QCoreApplication::quit();
        }
    });
}

void KestrovaClient::loadApp()
{
    setThreadCpuAffinity(pthread_self(), 2, QStringLiteral("kestrova-client app"));
    setThreadRealtimePriority(pthread_self(), 49, QStringLiteral("kestrova-client app"));

    m_engine.load(QUrl(QStringLiteral("qrc:///qml/main.qml")));
    const auto roots = m_engine.rootObjects();
    m_appWindow = roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(roots.first());
    if (!m_appWindow) {
        // Nothing can be shown without the main window: end and let systemd start us again.
        LOG(ERROR) << "The main window failed to load. Exiting.";
        std::exit(EXIT_FAILURE);
    }
    if (m_windowSize.width() > 0 && m_windowSize.height() > 0)
        m_appWindow->resize(m_windowSize);
    m_appWindow->setCursor(Qt::BlankCursor);
    m_screenshotProvider->setWindow(m_appWindow);
    LOG(INFO) << "Player resolution: " << m_appWindow->geometry().width() << "x" << m_appWindow->geometry().height();
    TopLevelWindow::setWindow(m_appWindow);

    m_renderedFrames = 0;
    if (VLOG_IS_ON(2)) {
        // Runs on the render thread; it touches only the counter, the start time and the log.
        connect(
            m_appWindow, &QQuickWindow::frameSwapped, this,
            [this] {
                const qint64 frames = ++m_renderedFrames;
                if ((frames - 1) % 60 == 0)
                    LOG(INFO) << "rendered " << frames << " frames in "
                              << QDateTime::currentMSecsSinceEpoch() - m_frameCountStart << "ms";
            },
            Qt::DirectConnection);
    }
    m_frameCountStart = QDateTime::currentMSecsSinceEpoch();
}

bool KestrovaClient::isDailyRestartDue(qint64 timelineMs, int localHour)
{
    return timelineMs > kDailyRestartMinimumRun && (localHour == 4 || localHour == 5);
}

void KestrovaClient::checkDailyRestart()
{
    const qint64 now = m_timeline.timestamp();
    VLOG(1) << "Checking daily restart condition" << now;
    if (isDailyRestartDue(now, QTime::currentTime().hour())) {
        VLOG(1) << "Viewer exiting for scheduled restart";
        std::exit(-1);
    }
}

qint64 KestrovaClient::readUptime(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        LOG(ERROR) << "Failed to open /proc/uptime";
        return -1;
    }
    const QString line = QString::fromLatin1(file.readLine());
    bool ok = false;
    const double seconds = line.split(QLatin1Char(' ')).first().toDouble(&ok);
    if (!ok) {
        LOG(ERROR) << "Failed to parse uptime from /proc/uptime";
        return -1;
    }
    return qint64(seconds);
}

void KestrovaClient::startResolutionCheckAfterBoot()
{
    const qint64 uptime = readUptime();
    if (uptime < 0 || uptime > kResolutionCheckMaxUptime) {
        LOG(INFO) << "Uptime is " << uptime << " seconds. Skipping resolution checker";
        return;
    }
    LOG(INFO) << "Uptime is " << uptime << " seconds. Starting resolution checker";
    auto* checker = new ResolutionChecker(this);
    connect(checker, &ResolutionChecker::screenResolutionReceived, this, &KestrovaClient::compareResolution);
    checker->startCheckingResolution(kResolutionCheckDelay);
}

void KestrovaClient::compareResolution(const QSize& reported)
{
    if (reported.width() < 0 || reported.height() < 0)
        LOG(WARNING) << "Tvservice did not report valid size";
    const QRect window = m_appWindow->geometry();
    if (reported.width() != window.width() || reported.height() != window.height()) {
        LOG(ERROR) << QStringLiteral("Resolution reported by tvservice: (%1, %2) does not match viewer resolution: "
                                     "(%3, %4). Restarting.")
                          .arg(reported.width())
                          .arg(reported.height())
                          .arg(window.width())
                          .arg(window.height());
        std::exit(-1);
    }
}
