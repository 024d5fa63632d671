// The playlist model: the predicate registry and its evaluation. Slide documents ask it,
// through the context property "playlist", whether a build may play now.
#pragma once

#include "predicatedatetime.h"
#include "slideinfo.h"
#include "slidepredicate.h"

#include <QObject>
#include <QString>

#include <vector>

class Playlist : public QObject {
    Q_OBJECT
public:
    explicit Playlist(QObject* parent = nullptr);

    // Evaluates one predicate and logs the answer.
    static bool evaluatePredicate(const SlidePredicate& predicate, PredicateDateTime time);
    // Evaluates the registry entry whose index is written as decimal text; "NULL" (a build
    // no slide assigned an index to), other text and indexes outside the registry give false.
    bool evaluatePredicate(const QString& predicate, PredicateDateTime time);
    // The same at the current moment.
    Q_INVOKABLE bool evaluatePredicate(const QString& predicate);

    // Every index of every slide lies inside the registry.
    static bool validate(const std::vector<SlidePredicate>& predicates, const std::vector<SlideInfo>& slides);

    const std::vector<SlidePredicate>& predicates() const { return m_predicates; }
    void setPredicates(std::vector<SlidePredicate> predicates) { m_predicates = std::move(predicates); }

private:
    std::vector<SlidePredicate> m_predicates;
    // Fixed to the system time zone when the playlist is made; moved to now on every call.
    PredicateDateTime m_predicateDateTime;
};
