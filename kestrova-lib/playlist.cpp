#include "playlist.h"

#include "logging.h"

#include <sys/time.h>

Playlist::Playlist(QObject* parent)
    : QObject(parent)
{
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
    m_predicateDateTime.setMSecsSinceEpoch(qint64(now.tv_sec) * 1000 + now.tv_usec / 1000);
    return evaluatePredicate(predicate, m_predicateDateTime);
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
