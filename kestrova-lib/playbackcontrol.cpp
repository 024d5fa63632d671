#include "playbackcontrol.h"

#include "logging.h"
#include "playbackcontrolstate.h"
#include "playlist.h"
#include "screenshotprovider.h"
#include "timeline.h"

#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QVariant>

std::ostream& operator<<(std::ostream& stream, const PlayedBuildInfo& info)
{
    return stream << "Asset type: " << info.assetType << "\n"
                  << "Asset name: " << info.assetName << "\n"
                  << "Play counter: " << info.playCounter << "\n"
                  << "Started playing at: " << info.startedAt << " ms\n"
                  << "Finished playing at: " << info.finishedAt << " ms\n"
                  << "Source: " << info.source;
}

PlaybackControl::PlaybackControl(QQmlApplicationEngine& engine, Playlist& playlist, Timeline& timeline,
                                 ScreenshotProvider& screenshotProvider, QObject* parent)
    : QObject(parent)
    , engine(engine)
    , playlist(playlist)
    , timeline(timeline)
    , screenshotProvider(screenshotProvider)
    , initState(new InitState(*this))
    , loadNextBuildState(new LoadNextBuildState(*this))
    , findNextBuildState(new FindNextBuildState(*this))
    , startPlayingNextBuildWhenReadyState(new StartPlayingNextBuildWhenReadyState(*this))
    , playBuildState(new PlayBuildState(*this))
    , stateMachine(this)
    , nextBuild(nullptr, -1)
    , currentBuild(nullptr, -1)
{
    qRegisterMetaType<PlayedBuildInfo>("PlayedBuildInfo");
    connect(&playlist, &Playlist::updated, this, [this] {
        LOG(INFO) << "Playlist was updated.";
        playlistUpdated = true;
    });
}

void PlaybackControl::runStateMachine()
{
    const auto roots = engine.rootObjects();
    QObject* window = roots.isEmpty() ? nullptr : roots.first();
    screenshotProvider.setWindow(qobject_cast<QQuickWindow*>(window));
    if (window) {
        functionsForCpp = window->findChild<QObject*>(QStringLiteral("functionsForCpp"));
        activeSurface = BuildSurface(window->findChild<QObject*>(QStringLiteral("surface0")));
        inactiveSurface = BuildSurface(window->findChild<QObject*>(QStringLiteral("surface1")));
        idleImage = IdleImage(window->findChild<QObject*>(QStringLiteral("idleImage")));
    }

    initState->addTransition(initState, &InitState::enterFindNextBuildState, findNextBuildState);
    findNextBuildState->addTransition(findNextBuildState, &FindNextBuildState::enterLoadNextBuild, loadNextBuildState);
    findNextBuildState->addTransition(findNextBuildState, &FindNextBuildState::enterFindNextBuild, findNextBuildState);
    loadNextBuildState->addTransition(loadNextBuildState, &LoadNextBuildState::enterStartPlayingNextBuildState,
                                      startPlayingNextBuildWhenReadyState);
    loadNextBuildState->addTransition(loadNextBuildState, &LoadNextBuildState::enterFindNextBuild, findNextBuildState);
    startPlayingNextBuildWhenReadyState->addTransition(startPlayingNextBuildWhenReadyState,
                                                       &StartPlayingNextBuildWhenReadyState::enterPlayBuildState,
                                                       playBuildState);
    playBuildState->addTransition(playBuildState, &PlayBuildState::enterFindNextBuild, findNextBuildState);
    playBuildState->addTransition(playBuildState, &PlayBuildState::enterPlayBuildState, playBuildState);

    stateMachine.addState(initState);
    stateMachine.addState(findNextBuildState);
    stateMachine.addState(loadNextBuildState);
    stateMachine.addState(startPlayingNextBuildWhenReadyState);
    stateMachine.addState(playBuildState);
    stateMachine.setInitialState(initState);
    stateMachine.start();
}

void PlaybackControl::loadNextBuild()
{
    QMetaObject::invokeMethod(functionsForCpp, "prepareInactiveBuild",
                              Q_ARG(QVariant, QVariant::fromValue(inactiveSurface.qmlObject())),
                              Q_ARG(QVariant, QVariant::fromValue(activeSurface.qmlObject())),
                              Q_ARG(QVariant, QVariant::fromValue(nextBuild.qmlObject())));
}

void PlaybackControl::playNextBuild()
{
    QMetaObject::invokeMethod(functionsForCpp, "playNextBuild",
                              Q_ARG(QVariant, QVariant::fromValue(inactiveSurface.qmlObject())),
                              Q_ARG(QVariant, QVariant::fromValue(activeSurface.qmlObject())));
}
