// The viewer's model of what to play: the predicate registry, the slide list and the
// device metadata from playlist.json, the slide being compiled or played and the slides
// waiting to be freed. Playback asks it for the next build; a search machine answers.
#pragma once

#include "decrypter.h"
#include "kestrovametadata.h"
#include "playlistwatcher.h"
#include "predicatedatetime.h"
#include "slide.h"
#include "slideinfo.h"
#include "slidepredicate.h"

#include <QObject>
#include <QStateMachine>
#include <QString>

#include <memory>
#include <vector>

class QQmlEngine;
class ReadyState;
class FindNextPlayableBuildState;
class LoadNextSlideState;
class CheckIfSlideIsPlayableState;
class NoPlayableBuildsState;
class PlayableBuildReadyState;
class FinishedState;

class Playlist : public QObject {
    Q_OBJECT
public:
    using SlideIterator = std::vector<SlideInfo>::iterator;

    // Loads playlist.json from the content folder, starts watching it and starts the
    // search machine.
    Playlist(const QString& contentPath, QQmlEngine& engine, Decrypter decrypter);
    Playlist(const QString& contentPath, QQmlEngine& engine);
    ~Playlist() override;

    // Requests a search; the answer comes as nextPlayableBuildIsReady or noPlayableBuilds.
    // Requests made before the search starts are answered once.
    void prepareNextPlayableBuild();
    // A build has left the screen or failed to load.
    void markBuildNotUsedAnymore(QObject* build);
    // Two slides of the same name: playback retries differently after a failed build.
    bool hasOneIdenticalBuild() const;

    const KestrovaMetadata& kestrovaMetadata() const { return m_metadata; }
    const std::vector<SlidePredicate>& predicates() const { return m_predicates; }
    const std::vector<SlideInfo>& slides() const { return m_slides; }
    void dumpPlaylistToLogs() const;
    const std::vector<std::unique_ptr<Slide>>& getDeleteQueue() const { return m_deleteQueue; }

    // Evaluates one predicate and logs the answer.
    static bool evaluatePredicate(const SlidePredicate& predicate, PredicateDateTime time);
    // Evaluates the registry entry whose index is written as decimal text; "NULL" (a build
    // no slide assigned an index to), other text and indexes outside the registry give false.
    bool evaluatePredicate(const QString& predicate, PredicateDateTime time);
    // The same at the current moment.
    Q_INVOKABLE bool evaluatePredicate(const QString& predicate);

    // Every index of every slide lies inside the registry.
    static bool validate(const std::vector<SlidePredicate>& predicates, const std::vector<SlideInfo>& slides);

    // Used by the states of the search machine.
    void advanceToTheNextSlide();
    void markFirstNonPlayableSlide(SlideIterator it);
    void markPlaylistHasPlayableSlides();
    bool playlistHasNoPlayableSlides(SlideIterator it) const;
    void addToDeleteQueue(std::unique_ptr<Slide> slide);
    void processDeleteQueue();
    void runStateMachine();

public slots:
    // Reloads playlist.json; an invalid file is ignored and the previous playlist stays.
    void update();

signals:
    void nextPlayableBuildIsReady(QObject* build);
    void noPlayableBuilds();
    void updated();
    void metadataChanged(KestrovaMetadata metadata);

private:
    friend class FindNextPlayableBuildState;
    friend class LoadNextSlideState;
    friend class CheckIfSlideIsPlayableState;

    std::vector<SlidePredicate> m_predicates;
    std::vector<SlideInfo> m_slides;
    SlideIterator m_currentSlideInfo;
    KestrovaMetadata m_metadata;
    std::unique_ptr<Slide> m_currentSlide;
    QString m_contentPath;
    QStateMachine m_stateMachine;
    QQmlEngine& m_engine;
    PlaylistWatcher m_watcher;
    int m_firstNonPlayableSlideIndex = -1;
    // Fixed to the system time zone when the playlist is made; moved to now on every call.
    PredicateDateTime m_now;
    ReadyState* m_readyState;
    FindNextPlayableBuildState* m_findNextPlayableBuildState;
    LoadNextSlideState* m_loadNextSlideState;
    CheckIfSlideIsPlayableState* m_checkIfSlideIsPlayableState;
    NoPlayableBuildsState* m_noPlayableBuildsState;
    PlayableBuildReadyState* m_playableBuildReadyState;
    FinishedState* m_finishedState;
    std::vector<std::unique_ptr<Slide>> m_deleteQueue;
    Decrypter m_decrypter;
};
