#include "slide.h"

#include "logging.h"

#include <QMetaObject>
#include <QVariant>
#include <QVariantList>

namespace {

// The slide document's functions are plain JavaScript functions on its root object:
// arguments and results travel as QVariant. A call the document cannot answer gives an
// invalid value.
template <typename... Arguments>
QVariant callItem(QObject* item, const char* function, const Arguments&... arguments)
{
    QVariant result;
    if (item)
        QMetaObject::invokeMethod(item, function, Q_RETURN_ARG(QVariant, result),
                                  QArgument<QVariant>("QVariant", QVariant(arguments))...);
    return result;
}

} // namespace

Slide::Slide(const QString& name, const std::vector<int>& predicateIndexes)
    : name(name)
    , predicateIndexes(predicateIndexes)
{
}

Slide::~Slide()
{
    if (!qmlItem)
        return;
    // A build released after this would find a dangling handle; without the property it
    // is reported as having no slide instead.
    for (QObject* build : buildsInUse)
        build->setProperty("parentSlide", QVariant());
    qmlItem->deleteLater();
}

void Slide::registerMetaType()
{
    qRegisterMetaType<Slide*>("Slide *");
}

void Slide::setQmlItem(QObject* item)
{
    if (qmlItem && qmlItem != item)
        qmlItem->deleteLater();
    qmlItem = item;
    loadState = 2;
    QVariantList indexes;
    for (int index : predicateIndexes)
        indexes.append(index);
    callItem(qmlItem, "setSlidePredicateIndexes", indexes);
    remainingBuilds = callItem(qmlItem, "getNumberOfBuilds").toInt();
}

void Slide::setDebugNames(int slideIndex)
{
    callItem(qmlItem, "updateItemDebugNames", slideIndex, name);
}

bool Slide::isPlayable()
{
    if (!isLoaded())
        return false;
    return callItem(qmlItem, "isPlayable").toBool();
}

QObject* Slide::advanceToAndGetNextBuild()
{
    QObject* build = callItem(qmlItem, "advanceToAndGetNextPlayableBuild").value<QObject*>();
    if (!build)
        return nullptr;
    build->setProperty("parentSlide", QVariant::fromValue(this));
    buildsInUse.insert(build);
    return build;
}

void Slide::markBuildNotUsed(QObject* build)
{
    if (buildsInUse.erase(build) == 0) {
        LOG(WARNING) << "Build is not used already.";
        return;
    }
    --remainingBuilds;
}

bool Slide::noBuildsInUse() const
{
    // Only the builds handed out matter. Builds passed over as not playable are never
    // released, so waiting for remainingBuilds to reach zero would keep such a slide, and
    // its compiled item, in the playlist's delete queue for good. A slide gets there only
    // after it stopped being current, so no further builds are handed out from it.
    return buildsInUse.empty();
}

void Slide::restart()
{
    callItem(qmlItem, "restart");
}
