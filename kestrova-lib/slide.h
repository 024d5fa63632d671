// The native handle of one compiled slide: owns the slide document's root object, hands
// out its playable builds one by one and keeps track of those still on screen.
#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>

#include <set>
#include <vector>

class Slide {
public:
    Slide(const QString& name, const std::vector<int>& predicateIndexes);
    // The item goes through the event loop: its builds may still be referenced by
    // whatever is being torn down right now.
    ~Slide();
    Slide(const Slide&) = delete;
    Slide& operator=(const Slide&) = delete;

    // Makes "Slide *" known to the meta-type system, so that a build's "parentSlide"
    // property can carry its handle. Called once before the first build is handed out.
    static void registerMetaType();

    bool isLoaded() const { return loadState == 2; }
    // Takes ownership of the slide document's root object, gives its builds their
    // predicate indexes and counts them.
    void setQmlItem(QObject* item);
    // slideIndex is the slide's zero-based position in the playlist.
    void setDebugNames(int slideIndex);
    bool isPlayable();
    // The next playable build of this pass, marked as in use and tagged with this handle;
    // null when the slide has no more.
    QObject* advanceToAndGetNextBuild();
    void markBuildNotUsed(QObject* build);
    bool noBuildsInUse() const;
    void restart();

    // The compiled root object, null until loaded.
    QObject* item() const { return qmlItem; }
    // Releases still to come: the number of builds less the releases so far.
    int remainingBuildCount() const { return remainingBuilds; }

    // The playlist reads the name and indexes, and moves loadState to 1 when compilation
    // starts.
    const QString name;
    const std::vector<int> predicateIndexes;
    int loadState = 0; // 0 not loaded, 1 loading, 2 loaded

private:
    QObject* qmlItem = nullptr;
    std::set<QObject*> buildsInUse;
    int remainingBuilds = 0;
};

Q_DECLARE_METATYPE(Slide*)
