// The states of the playlist's search machine. One search runs from READY to the final
// state: it walks the slides cyclically, compiles each slide document when it is reached,
// and reports the next playable build or that nothing is playable.
#pragma once

#include <QFinalState>
#include <QObject>
#include <QState>
#include <QString>

class Playlist;
class SlideCompiler;

class PlaylistState : public QState {
    Q_OBJECT
public:
    PlaylistState(Playlist& playlist, const QString& name, QState* parent = nullptr);

protected:
    void onEntry(QEvent* event) override;
    void onExit(QEvent* event) override;
    // Whether this entry is written to the log; READY re-enters itself five times a second.
    virtual bool logThisEntry() { return true; }
    // What the state does when entered.
    virtual void entered() = 0;

    Playlist& playlist;
};

class ReadyState : public PlaylistState {
    Q_OBJECT
public:
    explicit ReadyState(Playlist& playlist);
    void setNextBuildRequested() { nextBuildRequested = true; }

signals:
    void enterFindNextPlayableBuildState();
    void enterReadyState();

protected:
    bool logThisEntry() override;
    void entered() override;

private:
    bool nextBuildRequested = false;
    quint64 m_entries = 0;
};

class FindNextPlayableBuildState : public PlaylistState {
    Q_OBJECT
public:
    explicit FindNextPlayableBuildState(Playlist& playlist);

signals:
    void enterFindNextPlayableBuildState();
    void enterLoadNextSlideState();
    void enterPlayableBuildReadyState();
    void buildReady(QObject* build);

protected:
    void entered() override;
};

class LoadNextSlideState : public PlaylistState {
    Q_OBJECT
public:
    explicit LoadNextSlideState(Playlist& playlist);

signals:
    void enterLoadNextSlideState();
    void enterCheckIfSlideIsPlayableState();

protected:
    void entered() override;

private:
    void slideFailed();
    void slideLoaded(const QString& name, QObject* item);
    void releaseCompiler();

    SlideCompiler* compiler = nullptr;
};

class CheckIfSlideIsPlayableState : public PlaylistState {
    Q_OBJECT
public:
    explicit CheckIfSlideIsPlayableState(Playlist& playlist);

signals:
    void enterFindNextPlayableBuildState();
    void enterLoadNextSlideState();
    void enterNoPlayableBuildsState();

protected:
    void entered() override;
};

class NoPlayableBuildsState : public PlaylistState {
    Q_OBJECT
public:
    explicit NoPlayableBuildsState(Playlist& playlist);

signals:
    void enterFinishedState();

protected:
    void entered() override;
};

class PlayableBuildReadyState : public PlaylistState {
    Q_OBJECT
public:
    explicit PlayableBuildReadyState(Playlist& playlist);

public slots:
    void setBuild(QObject* build) { this->build = build; }

signals:
    void enterFinishedState();

protected:
    void entered() override;

private:
    QObject* build = nullptr;
};

class FinishedState : public QFinalState {
    Q_OBJECT
public:
    explicit FinishedState(QState* parent = nullptr);

protected:
    void onEntry(QEvent* event) override;
};
