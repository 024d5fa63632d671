#include "playlist.h"

#include "logging.h"
#include "playlistparser.h"
#include "playliststate.h"

#include <QDir>
#include <QVariant>

#include <algorithm>
#include <sstream>

#include <sys/time.h>

namespace {
const char kLogPrefix[] = "[Playlist] ";
} // namespace

Playlist::Playlist(const QString& contentPath, QQmlEngine& engine, Decrypter decrypter)
    : m_contentPath(contentPath)
    , m_stateMachine(this)
    , m_engine(engine)
    , m_readyState(new ReadyState(*this))
    , m_findNextPlayableBuildState(new FindNextPlayableBuildState(*this))
    , m_loadNextSlideState(new LoadNextSlideState(*this))
    , m_checkIfSlideIsPlayableState(new CheckIfSlideIsPlayableState(*this))
    , m_noPlayableBuildsState(new NoPlayableBuildsState(*this))
    , m_playableBuildReadyState(new PlayableBuildReadyState(*this))
    , m_finishedState(new FinishedState)
    , m_decrypter(std::move(decrypter))
{
    Slide::registerMetaType();
    qRegisterMetaType<KestrovaMetadata>("KestrovaMetadata");

    const PlaylistParser parser(m_contentPath, m_decrypter);
    m_predicates = parser.predicates();
    m_slides = parser.slides();
    if (!validate(m_predicates, m_slides)) {
        m_predicates.clear();
        m_slides.clear();
    }
    m_currentSlideInfo = m_slides.begin();
    m_metadata = parser.metadata();
    LOG(INFO) << kLogPrefix << "Playlist has " << m_slides.size() << " slides and " << m_predicates.size()
              << " predicates.";

    connect(&m_watcher, &PlaylistWatcher::playlistFileChanged, this, &Playlist::update);
    m_watcher.watchFile(QDir(m_contentPath).filePath(QStringLiteral("playlist.json")));

    runStateMachine();
}

Playlist::Playlist(const QString& contentPath, QQmlEngine& engine)
    : Playlist(contentPath, engine, Decrypter())
{
}

Playlist::~Playlist()
{
    m_stateMachine.stop();
}

void Playlist::update()
{
    LOG(INFO) << kLogPrefix << "Updating playlist";
    const PlaylistParser parser(m_contentPath, m_decrypter);
    std::vector<SlidePredicate> predicates = parser.predicates();
    std::vector<SlideInfo> slides = parser.slides();
    if (!validate(predicates, slides)) {
        LOG(WARNING) << kLogPrefix << "Playlist is invalid. Ignoring it.";
        return;
    }
    // The search goes on with the new lists; a slide compiled from the old ones waits in
    // the delete queue until its builds are off screen.
    if (m_currentSlide)
        addToDeleteQueue(std::move(m_currentSlide));
    m_predicates = std::move(predicates);
    m_slides = std::move(slides);
    m_firstNonPlayableSlideIndex = -1;
    m_currentSlideInfo = m_slides.begin();
    m_metadata = parser.metadata();
    emit updated();
    emit metadataChanged(m_metadata);
}

void Playlist::prepareNextPlayableBuild()
{
    VLOG(1) << kLogPrefix << "void Playlist::prepareNextPlayableBuild()";
    m_readyState->setNextBuildRequested();
}

void Playlist::markBuildNotUsedAnymore(QObject* build)
{
    if (!build)
        return;
    Slide* slide = build->property("parentSlide").value<Slide*>();
    if (!slide) {
        LOG(WARNING) << "Parent slide can't be nullptr.";
        return;
    }
    slide->markBuildNotUsed(build);
}

bool Playlist::hasOneIdenticalBuild() const
{
    return m_slides.size() == 2 && m_slides[0].name == m_slides[1].name;
}

void Playlist::dumpPlaylistToLogs() const
{
    if (m_slides.empty()) {
        LOG(INFO) << "Empty playlist";
        return;
    }
    for (const SlideInfo& slide : m_slides) {
        std::ostringstream indexes;
        for (const int index : slide.predicates)
            indexes << index << " ";
        LOG(INFO) << slide.name << " predicates=[" << indexes.str() << "]";
    }
}

void Playlist::advanceToTheNextSlide()
{
    if (m_slides.empty())
        return;
    ++m_currentSlideInfo;
    if (m_currentSlideInfo == m_slides.end())
        m_currentSlideInfo = m_slides.begin();
    LOG(INFO) << kLogPrefix << "Advanced to slide: " << m_currentSlideInfo->name;
}

void Playlist::markFirstNonPlayableSlide(SlideIterator it)
{
    if (m_firstNonPlayableSlideIndex == -1)
        m_firstNonPlayableSlideIndex = int(it - m_slides.begin());
}

void Playlist::markPlaylistHasPlayableSlides()
{
    m_firstNonPlayableSlideIndex = -1;
}

bool Playlist::playlistHasNoPlayableSlides(SlideIterator it) const
{
    return m_firstNonPlayableSlideIndex != -1 && m_firstNonPlayableSlideIndex == int(it - m_slides.begin());
}

void Playlist::addToDeleteQueue(std::unique_ptr<Slide> slide)
{
    m_deleteQueue.push_back(std::move(slide));
}

void Playlist::processDeleteQueue()
{
    const auto freeable = [](const std::unique_ptr<Slide>& slide) { return !slide || slide->noBuildsInUse(); };
    m_deleteQueue.erase(std::remove_if(m_deleteQueue.begin(), m_deleteQueue.end(), freeable), m_deleteQueue.end());
}

void Playlist::runStateMachine()
{
    m_findNextPlayableBuildState->addTransition(m_findNextPlayableBuildState,
                                                &FindNextPlayableBuildState::enterLoadNextSlideState,
                                                m_loadNextSlideState);
    m_findNextPlayableBuildState->addTransition(m_findNextPlayableBuildState,
                                                &FindNextPlayableBuildState::enterFindNextPlayableBuildState,
                                                m_findNextPlayableBuildState);
    m_findNextPlayableBuildState->addTransition(m_findNextPlayableBuildState,
                                                &FindNextPlayableBuildState::enterPlayableBuildReadyState,
                                                m_playableBuildReadyState);
    m_loadNextSlideState->addTransition(m_loadNextSlideState, &LoadNextSlideState::enterCheckIfSlideIsPlayableState,
                                        m_checkIfSlideIsPlayableState);
    m_loadNextSlideState->addTransition(m_loadNextSlideState, &LoadNextSlideState::enterLoadNextSlideState,
                                        m_loadNextSlideState);
    m_checkIfSlideIsPlayableState->addTransition(m_checkIfSlideIsPlayableState,
                                                 &CheckIfSlideIsPlayableState::enterFindNextPlayableBuildState,
                                                 m_findNextPlayableBuildState);
    m_checkIfSlideIsPlayableState->addTransition(m_checkIfSlideIsPlayableState,
                                                 &CheckIfSlideIsPlayableState::enterLoadNextSlideState,
                                                 m_loadNextSlideState);
    m_checkIfSlideIsPlayableState->addTransition(m_checkIfSlideIsPlayableState,
                                                 &CheckIfSlideIsPlayableState::enterNoPlayableBuildsState,
                                                 m_noPlayableBuildsState);
    m_readyState->addTransition(m_readyState, &ReadyState::enterFindNextPlayableBuildState,
                                m_findNextPlayableBuildState);
    m_readyState->addTransition(m_readyState, &ReadyState::enterReadyState, m_readyState);
    m_noPlayableBuildsState->addTransition(m_noPlayableBuildsState, &NoPlayableBuildsState::enterFinishedState,
                                           m_finishedState);
    m_playableBuildReadyState->addTransition(m_playableBuildReadyState, &PlayableBuildReadyState::enterFinishedState,
                                             m_finishedState);
    connect(m_findNextPlayableBuildState, &FindNextPlayableBuildState::buildReady, m_playableBuildReadyState,
            &PlayableBuildReadyState::setBuild);

    m_stateMachine.addState(m_readyState);
    m_stateMachine.addState(m_findNextPlayableBuildState);
    m_stateMachine.addState(m_loadNextSlideState);
    m_stateMachine.addState(m_checkIfSlideIsPlayableState);
    m_stateMachine.addState(m_noPlayableBuildsState);
    m_stateMachine.addState(m_playableBuildReadyState);
    m_stateMachine.addState(m_finishedState);
    m_stateMachine.setInitialState(m_readyState);

    // Queued: the machine has fully stopped by the time it is started again.
    connect(
        &m_stateMachine, &QStateMachine::finished, this,
        [this] {
            LOG(INFO) << "Finished";
            m_stateMachine.start();
        },
        Qt::QueuedConnection);
    m_stateMachine.start();
}

bool Playlist::evaluatePredicate(const SlidePredicate& predicate, PredicateDateTime time)
{
    const bool result = predicate.evaluate(time);
    VLOG(3) << "Evaluated " << predicate << " to " << (result ? 1 : 0);
    return result;
}

bool Playlist::evaluatePredicate(const QString& predicate, PredicateDateTime time)
{
    if (predicate == QLatin1String("NULL")) {
        LOG(WARNING) << "Trying to evaluate NULL predicate " << predicate;
        return false;
    }
    bool ok = false;
    const int index = predicate.toInt(&ok, 10);
    if (!ok) {
        LOG(ERROR) << "Predicate should be an integer index into the predicate registry of the playlist. Received "
                   << predicate;
        return false;
    }
    VLOG(3) << "Should evaluate predicate #" << index;
    if (index < 0 || size_t(index) >= m_predicates.size()) {
        LOG(ERROR) << "Predicate index " << index << " is outside the predicate registry of "
                   << m_predicates.size() << " entries";
        return false;
    }
    return evaluatePredicate(m_predicates[size_t(index)], time);
}

bool Playlist::evaluatePredicate(const QString& predicate)
{
    timeval now{};
    gettimeofday(&now, nullptr);
    m_now.setMSecsSinceEpoch(qint64(now.tv_sec) * 1000 + now.tv_usec / 1000);
    return evaluatePredicate(predicate, m_now);
}

bool Playlist::validate(const std::vector<SlidePredicate>& predicates, const std::vector<SlideInfo>& slides)
{
    for (const SlideInfo& slide : slides) {
        for (const int index : slide.predicates) {
            if (index < 0 || size_t(index) >= predicates.size()) {
                LOG(WARNING) << "Slide " << slide.name << " is invalid due to an out of bounds predicate index: "
                             << index;
                return false;
            }
        }
    }
    return true;
}
