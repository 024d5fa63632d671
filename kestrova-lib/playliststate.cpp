#include "playliststate.h"

#include "logging.h"
#include "playlist.h"
#include "slidecompiler.h"

#include <QTimer>

#include <sstream>

namespace {
const char kLogPrefix[] = "[Playlist] ";
constexpr int kReadyPollInterval = 200;
constexpr quint64 kReadyEntriesPerLogLine = 100;
} // namespace

PlaylistState::PlaylistState(Playlist& playlist, const QString& name, QState* parent)
    : QState(parent)
    , playlist(playlist)
{
    setObjectName(name);
}

void PlaylistState::onEntry(QEvent* event)
{
    if (logThisEntry())
        VLOG(2) << kLogPrefix << "Entered " << objectName() << " state.";
    QState::onEntry(event);
    entered();
}

void PlaylistState::onExit(QEvent* event)
{
    VLOG(2) << kLogPrefix << "Exited " << objectName() << " state.";
    QState::onExit(event);
}

ReadyState::ReadyState(Playlist& playlist)
    : PlaylistState(playlist, QStringLiteral("READY"))
{
}

bool ReadyState::logThisEntry()
{
    return m_entries++ % kReadyEntriesPerLogLine == 0;
}

void ReadyState::entered()
{
    if (nextBuildRequested) {
        nextBuildRequested = false;
        emit enterFindNextPlayableBuildState();
        return;
    }
    // Polls the request flag until playback asks for a build.
    QTimer::singleShot(kReadyPollInterval, this, [this] { emit enterReadyState(); });
}

FindNextPlayableBuildState::FindNextPlayableBuildState(Playlist& playlist)
    : PlaylistState(playlist, QStringLiteral("FIND_NEXT_PLAYABLE_BUILD"))
{
}

void FindNextPlayableBuildState::entered()
{
    if (playlist.m_slides.empty()) {
        emit enterLoadNextSlideState();
        return;
    }
    if (!playlist.m_currentSlide) {
        LOG(INFO) << kLogPrefix << "No slides are loaded.";
        emit enterLoadNextSlideState();
        return;
    }
    if (QObject* build = playlist.m_currentSlide->advanceToAndGetNextBuild()) {
        emit buildReady(build);
        emit enterPlayableBuildReadyState();
        return;
    }
    LOG(INFO) << kLogPrefix << "Iterated over all playable builds in the current slide.";
    playlist.addToDeleteQueue(std::move(playlist.m_currentSlide));
    playlist.advanceToTheNextSlide();
    emit enterLoadNextSlideState();
}

LoadNextSlideState::LoadNextSlideState(Playlist& playlist)
    : PlaylistState(playlist, QStringLiteral("LOAD_NEXT_SLIDE"))
{
}

void LoadNextSlideState::entered()
{
    if (playlist.m_slides.empty()) {
        emit enterCheckIfSlideIsPlayableState();
        return;
    }
    playlist.processDeleteQueue();
    if (playlist.m_currentSlide) {
        LOG(WARNING) << "Current slide is already in use";
        // A slide found not playable has handed out nothing and goes at once; one whose
        // builds are still on screen waits in the delete queue like any other.
        if (!playlist.m_currentSlide->noBuildsInUse())
            playlist.addToDeleteQueue(std::move(playlist.m_currentSlide));
        playlist.m_currentSlide.reset();
    }
    const SlideInfo& info = *playlist.m_currentSlideInfo;
    playlist.m_currentSlide = std::make_unique<Slide>(info.name, info.predicates);

    releaseCompiler();
    compiler = new SlideCompiler(playlist.m_engine);
    connect(compiler, &SlideCompiler::failedToLoadSlide, this, &LoadNextSlideState::slideFailed);
    connect(compiler, &SlideCompiler::slideLoaded, this, &LoadNextSlideState::slideLoaded);
    playlist.m_currentSlide->loadState = 1;
    compiler->load(playlist.m_contentPath, info.name);
}

void LoadNextSlideState::releaseCompiler()
{
    if (compiler) {
        compiler->disconnect(this);
        compiler->deleteLater();
        compiler = nullptr;
    }
}

void LoadNextSlideState::slideFailed()
{
    // The slide stays in loading state, so the check finds it not playable.
    releaseCompiler();
    emit enterCheckIfSlideIsPlayableState();
}

void LoadNextSlideState::slideLoaded(const QString& name, QObject* item)
{
    if (playlist.m_slides.empty()) {
        item->deleteLater();
        releaseCompiler();
        emit enterLoadNextSlideState();
        return;
    }
    Slide* slide = playlist.m_currentSlide.get();
    if (!slide || slide->isLoaded() || slide->name != name) {
        LOG(INFO) << "Current slide changed while it was compiling";
        item->deleteLater();
        releaseCompiler();
        emit enterLoadNextSlideState();
        return;
    }
    std::ostringstream indexes;
    for (const int index : slide->predicateIndexes)
        indexes << index << " ";
    LOG(INFO) << kLogPrefix << "Loaded slide: " << slide->name << " " << indexes.str();
    slide->setQmlItem(item);
    slide->setDebugNames(int(playlist.m_currentSlideInfo - playlist.m_slides.begin()));
    releaseCompiler();
    emit enterCheckIfSlideIsPlayableState();
}

CheckIfSlideIsPlayableState::CheckIfSlideIsPlayableState(Playlist& playlist)
    : PlaylistState(playlist, QStringLiteral("CHECK_IF_SLIDE_IS_PLAYABLE"))
{
}

void CheckIfSlideIsPlayableState::entered()
{
    if (playlist.m_slides.empty()) {
        emit enterNoPlayableBuildsState();
        return;
    }
    if (!playlist.m_currentSlide) {
        emit enterLoadNextSlideState();
        return;
    }
    if (playlist.m_currentSlide->isPlayable()) {
        LOG(INFO) << kLogPrefix << "And the slide is playable.";
        playlist.markPlaylistHasPlayableSlides();
        emit enterFindNextPlayableBuildState();
        return;
    }
    if (playlist.playlistHasNoPlayableSlides(playlist.m_currentSlideInfo)) {
        playlist.advanceToTheNextSlide();
        emit enterNoPlayableBuildsState();
        return;
    }
    playlist.markFirstNonPlayableSlide(playlist.m_currentSlideInfo);
    LOG(INFO) << kLogPrefix << "But it is not playable. Advancing to the next slide";
    playlist.advanceToTheNextSlide();
    emit enterLoadNextSlideState();
}

NoPlayableBuildsState::NoPlayableBuildsState(Playlist& playlist)
    : PlaylistState(playlist, QStringLiteral("NO_PLAYABLE_BUILDS"))
{
}

void NoPlayableBuildsState::entered()
{
    emit playlist.noPlayableBuilds();
    playlist.markPlaylistHasPlayableSlides();
    emit enterFinishedState();
}

PlayableBuildReadyState::PlayableBuildReadyState(Playlist& playlist)
    : PlaylistState(playlist, QStringLiteral("PLAYABLE_BUILD_READY_STATE"))
{
}

void PlayableBuildReadyState::entered()
{
    LOG(INFO) << kLogPrefix << "Playable build is ready. Emitting the result";
    if (!build)
        LOG(FATAL) << "Assert failed: build != nullptr";
    emit playlist.nextPlayableBuildIsReady(build);
    build = nullptr;
    emit enterFinishedState();
}

FinishedState::FinishedState(QState* parent)
    : QFinalState(parent)
{
}

void FinishedState::onEntry(QEvent* event)
{
    LOG(INFO) << kLogPrefix << "Entered FINISHED state";
    QFinalState::onEntry(event);
}
