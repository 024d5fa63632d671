#include "build.h"

#include "logging.h"

#include <QMetaObject>
#include <QVariant>

namespace {

struct KindName {
    AssetType type;
    const char* kind;
    const char* name;
};

const KindName kKindNames[] = {
    {AssetType::AnimatedImage, "animated-image", "AnimatedImage"},
    {AssetType::Image, "image", "Image"},
    {AssetType::Video, "video", "Video"},
    {AssetType::Web, "web", "Web"},
    {AssetType::Screenshot, "screenshot", "Screenshot"},
    {AssetType::Audio, "audio", "Audio"},
    {AssetType::EdgeApp, "edge-app", "EdgeApp"},
    {AssetType::Intro, "intro", "Intro"},
};

// How close to the end of a build the next one starts loading by default.
constexpr qint64 kPreloadLeadMs = 5000;

// assetType() and assetName() report a missing link alike.
const char kNoBuildForType[] = "No build to get asset type from";
const char kNoLayerForType[] = "Build has no layer to get asset type from";
const char kNoAssetForType[] = "Layer has no asset to get asset type from";

QObject* objectProperty(const QObject* object, const char* name)
{
    return object ? object->property(name).value<QObject*>() : nullptr;
}

// Properties are read by name; a value that is not text becomes text when it can, else
// the result is empty.
QString textProperty(const QObject* object, const char* name)
{
    const QVariant value = object->property(name);
    return value.canConvert<QString>() ? value.toString() : QString();
}

// A JavaScript function of the QML object, called directly. A missing function gives an
// invalid value.
QVariant callFunction(QObject* object, const char* function)
{
    QVariant result;
    if (object)
        QMetaObject::invokeMethod(object, function, Qt::DirectConnection, Q_RETURN_ARG(QVariant, result));
    return result;
}

} // namespace

AssetType assetTypeFromKind(const QString& kind)
{
    for (const KindName& entry : kKindNames) {
        if (kind == QLatin1String(entry.kind))
            return entry.type;
    }
    return AssetType::Unknown;
}

const char* assetTypeName(AssetType type)
{
    for (const KindName& entry : kKindNames) {
        if (entry.type == type)
            return entry.name;
    }
    return "Unknown";
}

std::ostream& operator<<(std::ostream& stream, AssetType type)
{
    return stream << assetTypeName(type);
}

Build::Build(QObject* qmlObject, int index)
    : m_qmlObject(qmlObject)
    , m_index(index)
{
}

bool Build::isPlayable() const
{
    return callFunction(m_qmlObject, "isPlayable").toBool();
}

QObject* Build::asset(const AssetErrors& errors) const
{
    if (!m_qmlObject) {
        LOG(ERROR) << errors.noBuild;
        return nullptr;
    }
    QObject* layer = objectProperty(m_qmlObject, "layer");
    if (!layer) {
        LOG(ERROR) << errors.noLayer;
        return nullptr;
    }
    QObject* asset = objectProperty(layer, "asset");
    if (!asset)
        LOG(ERROR) << errors.noAsset;
    return asset;
}

AssetType Build::assetType() const
{
    const QObject* found = asset({kNoBuildForType, kNoLayerForType, kNoAssetForType});
    return found ? assetTypeFromKind(textProperty(found, "kind")) : AssetType::Unknown;
}

QString Build::assetName() const
{
    const QObject* found = asset({kNoBuildForType, kNoLayerForType, kNoAssetForType});
    return found ? textProperty(found, "name") : QString();
}

QString Build::buildSource() const
{
    const QObject* found = asset(
        {"No build to get source from", "Build has no layer to get source from", "Layer has no asset to get source from"});
    return found ? textProperty(found, "source") : QString();
}

QString Build::getUniqueName() const
{
    const auto address = static_cast<qulonglong>(reinterpret_cast<quintptr>(m_qmlObject));
    return QStringLiteral("Build: 0x%1 %2").arg(address, 16, 16, QLatin1Char('0')).arg(m_index);
}

qint64 Build::durationUntilPreload(qint64 remainingMs) const
{
    if (isEmpty() || remainingMs < kPreloadLeadMs)
        return 0;
    switch (assetType()) {
    case AssetType::AnimatedImage:
    case AssetType::Image:
    case AssetType::Screenshot:
    case AssetType::Intro:
        // Cheap to load: get the next build ready right away.
        return 0;
    case AssetType::Video:
        // Decoding the next video right at the start would compete with this one; a
        // short, fixed wait lets this one settle first.
        return kPreloadLeadMs;
    case AssetType::Web:
    case AssetType::Audio:
    case AssetType::EdgeApp:
    case AssetType::Unknown:
        break;
    }
    return remainingMs - kPreloadLeadMs;
}

BuildSurface::BuildSurface(QObject* qmlObject)
    : m_qmlObject(qmlObject)
{
}

qint64 BuildSurface::remainingDuration() const
{
    return qMax<qint64>(0, callFunction(m_qmlObject, "getRemainingDuration").toLongLong());
}

void BuildSurface::deactivate() const
{
    if (!m_qmlObject) {
        LOG(WARNING) << "Trying to deactivate empty BuildSurface";
        return;
    }
    callFunction(m_qmlObject, "deactivate");
}

void BuildSurface::stop() const
{
    if (!m_qmlObject) {
        LOG(WARNING) << "Trying to stop empty BuildSurface";
        return;
    }
    callFunction(m_qmlObject, "stop");
}

BuildSurface::State BuildSurface::state() const
{
    if (!m_qmlObject)
        return Stopped;
    return stateFromString(textProperty(m_qmlObject, "state"));
}

BuildSurface::LoadStatus BuildSurface::loadStatusFromString(const QString& text)
{
    static const struct {
        const char* text;
        LoadStatus status;
    } kStatuses[] = {
        {"00 Null", Null},
        {"01 Loading", Loading},
        {"02 Error", Error},
        {"03 Ready", Ready},
    };
    for (const auto& entry : kStatuses) {
        if (text == QLatin1String(entry.text))
            return entry.status;
    }
    LOG(INFO) << "Unknown status: " << text;
    return Null;
}

BuildSurface::State BuildSurface::stateFromString(const QString& text)
{
    if (text == QLatin1String("PLAYING"))
        return Playing;
    if (text == QLatin1String("STOPPED"))
        return Stopped;
    LOG(INFO) << "Unknown state: " << text;
    return Stopped;
}

IdleImage::IdleImage(QObject* qmlObject)
    : m_qmlObject(qmlObject)
{
}

void IdleImage::setVisible(bool visible) const
{
    if (!m_qmlObject) {
        LOG(ERROR) << "Trying to change the visibility of empty IdleImage";
        return;
    }
    m_qmlObject->setProperty("visible", visible);
}
