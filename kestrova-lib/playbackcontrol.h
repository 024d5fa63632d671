// Drives what is on screen: asks the playlist for the next playable build, has the main
// window prepare it invisibly on the inactive build surface while the current build plays,
// then swaps the two surfaces in one step and reports the build that left the screen.
#pragma once

#include "build.h"

#include <QImage>
#include <QMetaType>
#include <QObject>
#include <QStateMachine>
#include <QString>

#include <ostream>

class Playlist;
class QQmlApplicationEngine;
class ScreenshotProvider;
class Timeline;
class InitState;
class FindNextBuildState;
class LoadNextBuildState;
class StartPlayingNextBuildWhenReadyState;
class PlayBuildState;

// What playback reports about a build once it has left the screen.
struct PlayedBuildInfo {
    qint64 startedAt = 0;  // timeline ms of its last "play" event
    qint64 finishedAt = 0; // timeline ms of its last "stop" event
    AssetType assetType = AssetType::Unknown;
    QString assetName;
    int playCounter = 0;
    QString source;
    QImage screenshot; // the window as it looked when the build left the screen
};

std::ostream& operator<<(std::ostream& stream, const PlayedBuildInfo& info);

Q_DECLARE_METATYPE(PlayedBuildInfo)

class PlaybackControl : public QObject {
    Q_OBJECT
public:
    PlaybackControl(QQmlApplicationEngine& engine, Playlist& playlist, Timeline& timeline,
                    ScreenshotProvider& screenshotProvider, QObject* parent = nullptr);

    // Finds the window's items and starts the machine; called once the window is loaded.
    void runStateMachine();

    // Has the main window prepare the next build on the inactive surface.
    void loadNextBuild();
    // Has the main window swap in the prepared surface.
    void playNextBuild();

signals:
    void buildPlayed(PlayedBuildInfo buildInfo);
    void screenshotUpdated(int id);

private:
    friend class InitState;
    friend class FindNextBuildState;
    friend class LoadNextBuildState;
    friend class StartPlayingNextBuildWhenReadyState;
    friend class PlayBuildState;

    QQmlApplicationEngine& engine;
    Playlist& playlist;
    Timeline& timeline;
    ScreenshotProvider& screenshotProvider;
    QObject* functionsForCpp = nullptr;
    InitState* initState;
    LoadNextBuildState* loadNextBuildState;
    FindNextBuildState* findNextBuildState;
    StartPlayingNextBuildWhenReadyState* startPlayingNextBuildWhenReadyState;
    PlayBuildState* playBuildState;
    QStateMachine stateMachine;
    Build nextBuild;
    Build currentBuild;
    BuildSurface activeSurface;
    BuildSurface inactiveSurface;
    IdleImage idleImage;
    int playCounter = 0;
    int buildSequence = 0;
    bool playlistUpdated = false;
};
