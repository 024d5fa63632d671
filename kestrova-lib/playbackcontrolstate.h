// The five states of the playback machine. Each state's entry action does its work and
// emits the signal that leads to the next state.
#pragma once

#include <QState>
#include <QString>
#include <QTimer>

class PlaybackControl;

class PlaybackControlState : public QState {
    Q_OBJECT
public:
    PlaybackControlState(PlaybackControl& control, const QString& name);

protected:
    void onEntry(QEvent* event) override;
    void onExit(QEvent* event) override;
    virtual void entered() = 0;

    PlaybackControl& control;
};

class InitState : public PlaybackControlState {
    Q_OBJECT
public:
    explicit InitState(PlaybackControl& control);

signals:
    void enterFindNextBuildState();

protected:
    void entered() override;
};

class FindNextBuildState : public PlaybackControlState {
    Q_OBJECT
public:
    explicit FindNextBuildState(PlaybackControl& control);

signals:
    void enterLoadNextBuild();
    void enterFindNextBuild();

protected:
    void entered() override;
    void onExit(QEvent* event) override;

private:
    void buildReceived(QObject* build);
    void nothingPlayable();

    // Asks the playlist again a second after it had nothing playable.
    QTimer retryTimer;
};

class LoadNextBuildState : public PlaybackControlState {
    Q_OBJECT
public:
    explicit LoadNextBuildState(PlaybackControl& control);

signals:
    void enterFindNextBuild();
    void enterStartPlayingNextBuildState();

protected:
    void entered() override;
    void onExit(QEvent* event) override;

private slots:
    void startLoadingNextBuild();
    void processQmlLoadStatusChange(const QString& status);
    void processBuildLoadFailure();

private:
    void disconnectStatus();

    QTimer preloadTimer;
    QTimer loadTimeoutTimer;
    QTimer retryTimer;
};

class StartPlayingNextBuildWhenReadyState : public PlaybackControlState {
    Q_OBJECT
public:
    explicit StartPlayingNextBuildWhenReadyState(PlaybackControl& control);

signals:
    void enterPlayBuildState();

protected:
    void entered() override;

private:
    void playNextBuild();

    QTimer playTimer;
};

class PlayBuildState : public PlaybackControlState {
    Q_OBJECT
public:
    explicit PlayBuildState(PlaybackControl& control);

signals:
    void enterFindNextBuild();
    void enterPlayBuildState();

protected:
    void entered() override;
    void onExit(QEvent* event) override;

private:
    // Checks the playing build again every second.
    QTimer recheckTimer;
};
