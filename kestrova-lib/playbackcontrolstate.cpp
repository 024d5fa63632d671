#include "playbackcontrolstate.h"

#include "logging.h"
#include "playbackcontrol.h"
#include "playlist.h"
#include "screenshotprovider.h"
#include "timeline.h"

#include <algorithm>
#include <functional>

namespace {
const char kLogPrefix[] = "[Playback] ";
constexpr int kNothingPlayableRetry = 1000;
constexpr int kLoadTimeout = 60000;
constexpr int kIdenticalBuildRetry = 500;
constexpr int kMinimumPlayWait = 100;
constexpr int kRecheckInterval = 1000;
constexpr qint64 kFindNextBuildBeforeEnd = 5000;

void setUpSingleShot(QTimer& timer, QObject* context, const std::function<void()>& action)
{
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, context, action);
}
} // namespace

PlaybackControlState::PlaybackControlState(PlaybackControl& control, const QString& name)
    : QState()
    , control(control)
{
    setObjectName(name);
}

void PlaybackControlState::onEntry(QEvent* event)
{
    VLOG(2) << kLogPrefix << "Entered " << objectName() << " state.";
    QState::onEntry(event);
    entered();
}

void PlaybackControlState::onExit(QEvent* event)
{
    VLOG(2) << kLogPrefix << "Exited " << objectName() << " state.";
    QState::onExit(event);
}

InitState::InitState(PlaybackControl& control)
    : PlaybackControlState(control, QStringLiteral("INIT"))
{
}

void InitState::entered()
{
    control.nextBuild = Build(nullptr, -1);
    emit enterFindNextBuildState();
}

FindNextBuildState::FindNextBuildState(PlaybackControl& control)
    : PlaybackControlState(control, QStringLiteral("FIND_NEXT_BUILD"))
{
    connect(&control.playlist, &Playlist::nextPlayableBuildIsReady, this, &FindNextBuildState::buildReceived);
    connect(&control.playlist, &Playlist::noPlayableBuilds, this, &FindNextBuildState::nothingPlayable);
    setUpSingleShot(retryTimer, this, [this] { emit enterFindNextBuild(); });
}

void FindNextBuildState::entered()
{
    LOG(INFO) << "virtual void FindNextBuildState::onEntry(QEvent*)";
    control.playlist.prepareNextPlayableBuild();
}

void FindNextBuildState::onExit(QEvent* event)
{
    retryTimer.stop();
    PlaybackControlState::onExit(event);
}

void FindNextBuildState::buildReceived(QObject* build)
{
    control.nextBuild = Build(build, control.buildSequence);
    control.buildSequence += 1;
    LOG(INFO) << "Received playable build: " << control.nextBuild.getUniqueName();
    emit enterLoadNextBuild();
}

void FindNextBuildState::nothingPlayable()
{
    LOG(INFO) << "No playable builds.";
    control.idleImage.setVisible(true);
    control.activeSurface.deactivate();
    control.inactiveSurface.deactivate();
    retryTimer.start(kNothingPlayableRetry);
}

LoadNextBuildState::LoadNextBuildState(PlaybackControl& control)
    : PlaybackControlState(control, QStringLiteral("LOAD_NEXT_BUILD"))
{
    preloadTimer.setSingleShot(true);
    connect(&preloadTimer, &QTimer::timeout, this, &LoadNextBuildState::startLoadingNextBuild);
    loadTimeoutTimer.setSingleShot(true);
    connect(&loadTimeoutTimer, &QTimer::timeout, this, &LoadNextBuildState::processBuildLoadFailure);
    setUpSingleShot(retryTimer, this, [this] { emit enterFindNextBuild(); });
}

void LoadNextBuildState::entered()
{
    const qint64 delay = control.playlistUpdated
        ? 0
        : control.currentBuild.durationUntilPreload(control.activeSurface.remainingDuration());
    LOG(INFO) << "Time to preload: " << delay << " ms";
    preloadTimer.stop();
    control.timeline.expectIn(delay, control.nextBuild.getUniqueName());
    preloadTimer.start(int(delay));
}

void LoadNextBuildState::onExit(QEvent* event)
{
    preloadTimer.stop();
    retryTimer.stop();
    PlaybackControlState::onExit(event);
}

void LoadNextBuildState::startLoadingNextBuild()
{
    LOG(INFO) << "void LoadNextBuildState::startLoadingNextBuild()";
    control.timeline.markNow(QStringLiteral("prepare ") + control.nextBuild.getUniqueName());
    connect(control.inactiveSurface.qmlObject(), SIGNAL(cppStatusChanged(QString)), this,
            SLOT(processQmlLoadStatusChange(QString)));
    loadTimeoutTimer.start(kLoadTimeout);
    control.loadNextBuild();
}

void LoadNextBuildState::disconnectStatus()
{
    if (control.inactiveSurface.qmlObject())
        disconnect(control.inactiveSurface.qmlObject(), SIGNAL(cppStatusChanged(QString)), this,
                   SLOT(processQmlLoadStatusChange(QString)));
}

void LoadNextBuildState::processQmlLoadStatusChange(const QString& status)
{
    LOG(INFO) << "void LoadNextBuildState::processQmlLoadStatusChange(const QString&)" << "Status: " << status;
    switch (BuildSurface::loadStatusFromString(status)) {
    case BuildSurface::Error:
        processBuildLoadFailure();
        break;
    case BuildSurface::Ready:
        loadTimeoutTimer.stop();
        disconnectStatus();
        emit enterStartPlayingNextBuildState();
        break;
    default:
        break;
    }
}

void LoadNextBuildState::processBuildLoadFailure()
{
    LOG(INFO) << "Skipping build due to failure to load";
    loadTimeoutTimer.stop();
    disconnectStatus();
    control.inactiveSurface.deactivate();
    control.playlist.markBuildNotUsedAnymore(control.nextBuild.qmlObject());
    if (control.playlist.hasOneIdenticalBuild()) {
        control.idleImage.setVisible(true);
        retryTimer.start(kIdenticalBuildRetry);
        return;
    }
    if (control.activeSurface.isEmpty())
        control.idleImage.setVisible(true);
    emit enterFindNextBuild();
}

StartPlayingNextBuildWhenReadyState::StartPlayingNextBuildWhenReadyState(PlaybackControl& control)
    : PlaybackControlState(control, QStringLiteral("START_PLAYING_NEXT_BUILD_WHEN_READY"))
{
    setUpSingleShot(playTimer, this, [this] { playNextBuild(); });
    // A coarse timer may fire up to 5 % early; the re-armed wait of at least 100 ms would
    // then keep the build on screen that much too long.
    playTimer.setTimerType(Qt::PreciseTimer);
}

void StartPlayingNextBuildWhenReadyState::entered()
{
    LOG(INFO) << "virtual void StartPlayingNextBuildWhenReadyState::onEntry(QEvent*)";
    playTimer.stop();
    const qint64 remaining = control.activeSurface.remainingDuration();
    LOG(INFO) << "Remaining duration: " << remaining;
    playTimer.start(int(remaining));
}

void StartPlayingNextBuildWhenReadyState::playNextBuild()
{
    LOG(INFO) << "void StartPlayingNextBuildWhenReadyState::playNextBuild()";
    const qint64 remaining = control.activeSurface.remainingDuration();
    if (remaining > 0 && !control.playlistUpdated) {
        LOG(INFO) << "Current build is still playing. Wait again for: " << remaining << " ms";
        playTimer.start(int(std::max<qint64>(remaining, kMinimumPlayWait)));
        return;
    }

    if (!control.currentBuild.isEmpty()) {
        const QString name = control.currentBuild.getUniqueName();
        control.timeline.markNow(QStringLiteral("stop ") + name);
        PlayedBuildInfo info;
        info.assetType = control.currentBuild.assetType();
        info.assetName = control.currentBuild.assetName();
        info.source = control.currentBuild.buildSource();
        info.playCounter = control.playCounter;
        info.finishedAt = control.timeline.findLastEventTime(QStringLiteral("stop ") + name);
        info.startedAt = control.timeline.findLastEventTime(QStringLiteral("play ") + name);
        info.screenshot = control.screenshotProvider.grabScreenshot();
        LOG(INFO) << "Played build:\n" << info;
        emit control.buildPlayed(info);
        control.playCounter += 1;
    }
    if (control.playlistUpdated) {
        LOG(INFO) << "Playlist was updated. Starting playing next build immediately.";
        control.playlistUpdated = false;
    }
    control.timeline.markNow(QStringLiteral("play ") + control.nextBuild.getUniqueName());
    control.idleImage.setVisible(false);
    std::swap(control.activeSurface, control.inactiveSurface);
    control.playlist.markBuildNotUsedAnymore(control.currentBuild.qmlObject());
    control.currentBuild = control.nextBuild;
    emit control.screenshotUpdated(control.playCounter);
    control.playNextBuild();
    emit enterPlayBuildState();
}

PlayBuildState::PlayBuildState(PlaybackControl& control)
    : PlaybackControlState(control, QStringLiteral("PLAY_BUILD_STATE"))
{
    setUpSingleShot(recheckTimer, this, [this] { emit enterPlayBuildState(); });
}

void PlayBuildState::entered()
{
    const BuildSurface::State state = control.activeSurface.state();
    if (control.playlistUpdated) {
        control.activeSurface.stop();
        emit enterFindNextBuild();
        return;
    }
    if (control.currentBuild.isPlayable() && state == BuildSurface::Playing) {
        if (control.activeSurface.remainingDuration() > kFindNextBuildBeforeEnd) {
            recheckTimer.start(kRecheckInterval);
            return;
        }
        LOG(INFO) << "Ready to find and preload next build";
        emit enterFindNextBuild();
        return;
    }
    control.activeSurface.stop();
    emit enterFindNextBuild();
}

void PlayBuildState::onExit(QEvent* event)
{
    recheckTimer.stop();
    PlaybackControlState::onExit(event);
}
