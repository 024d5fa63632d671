#include "surfacefactory.h"

#include "logging.h"

#include <QPointer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QTimer>
#include <QtGlobal>

namespace {
// Gives a surface's last paint and signal handlers time to finish before it goes.
constexpr int kDeleteDelayMs = 100;

const void* address(const QObject* object)
{
    return static_cast<const void*>(object);
}
} // namespace

SurfaceFactory::VideoBackend backendFromString(const QString& value)
{
    VLOG(1) << "Using backend from string: " << value;
    if (value == QLatin1String("QT"))
        return SurfaceFactory::VideoBackend::Qt;
    if (value == QLatin1String("GST"))
        return SurfaceFactory::VideoBackend::Gst;
    VLOG(1) << "Default video backend is used.";
    return SurfaceFactory::VideoBackend::Default;
}

QString videoSurfaceName(SurfaceFactory::VideoBackend backend)
{
    if (backend == SurfaceFactory::VideoBackend::Qt)
        return QStringLiteral("MultimediaSurface.qml");
    return QStringLiteral("VideoSurface.qml");
}

SurfaceFactory::SurfaceFactory(QQmlEngine& engine, QObject* parent)
    : QObject(parent)
    , m_engine(engine)
{
}

QUrl SurfaceFactory::surfaceDocument(const QString& kind)
{
    QString name;
    if (kind == QLatin1String("web")) {
        name = QStringLiteral("WebSurface.qml");
    } else if (kind == QLatin1String("edge-app")) {
        name = QStringLiteral("EdgeAppSurface.qml");
    } else if (kind == QLatin1String("video")) {
        // Read on every creation, so a changed environment applies to the next video.
        const QString value = qEnvironmentVariable("VIDEO_BACKEND", QStringLiteral("default"));
        name = videoSurfaceName(backendFromString(value));
    } else if (kind == QLatin1String("image")) {
        name = QStringLiteral("ImageSurface.qml");
    } else if (kind == QLatin1String("screenshot")) {
        name = QStringLiteral("ScreenshotSurface.qml");
    } else if (kind == QLatin1String("audio")) {
        // QtMultimedia plays audio whatever serves video.
        name = QStringLiteral("MultimediaSurface.qml");
    } else if (kind == QLatin1String("intro")) {
        LOG(ERROR) << "Intro asset type is not supported for Qt 5";
        return {};
    } else if (kind == QLatin1String("animated-image")) {
        name = QStringLiteral("AnimatedImageSurface.qml");
    } else {
        LOG(WARNING) << "Unknown surface type: " << kind;
        return {};
    }
    return QUrl(QStringLiteral("qrc:///qml/") + name);
}

QQuickItem* SurfaceFactory::createSurface(const QString& kind, QQuickItem* surfaceParent)
{
    const QUrl document = surfaceDocument(kind);
    if (document.isEmpty())
        return nullptr;

    // Compiled-in documents load synchronously; nothing is kept between calls.
    QQmlComponent component(&m_engine, document);
    QObject* object = component.create();
    auto* surface = qobject_cast<QQuickItem*>(object);
    if (!surface) {
        if (object) {
            LOG(WARNING) << "Can't create surface: " << document.toString() << " is not an item";
            delete object;
        } else {
            LOG(WARNING) << "Can't create surface: " << component.errorString();
        }
        return nullptr;
    }

    surface->setParentItem(surfaceParent);
    // As a child of the factory the surface is never collected by the engine; it ends
    // through deleteSurfaceLater or with the factory.
    surface->setParent(this);
    connect(surface, &QObject::destroyed, this, &SurfaceFactory::surfaceDestroyed);
    ++m_surfaceCount;
    LOG(INFO) << "Surface created. Total surfaces: " << m_surfaceCount;
    return surface;
}

void SurfaceFactory::setSurfaceParentItem(QQuickItem* item, QQuickItem* parent)
{
    VLOG(1) << "Setting item's " << address(item) << " parent to " << address(parent);
    if (item)
        item->setParentItem(parent);
}

void SurfaceFactory::destroySurface(QQuickItem* surface)
{
    if (!surface)
        return;
    // The surface decides when it is clean: most at once, a loading web page later.
    connect(surface, SIGNAL(cleanupDone(QQuickItem*)), this, SLOT(deleteSurfaceLater(QQuickItem*)));
    QMetaObject::invokeMethod(surface, "initiateCleanup");
}

void SurfaceFactory::deleteSurfaceLater(QQuickItem* surface)
{
    LOG(INFO) << "Deleting surface after " << kDeleteDelayMs << "ms. " << address(surface);
    QPointer<QQuickItem> guard(surface);
    QTimer::singleShot(kDeleteDelayMs, this, [guard, surface] {
        LOG(INFO) << "Posting to delete surface!" << address(surface);
        if (guard)
            guard->deleteLater();
    });
}

void SurfaceFactory::surfaceDestroyed()
{
    --m_surfaceCount;
    LOG(INFO) << "Surface destroyed. Total surfaces: " << m_surfaceCount;
}
