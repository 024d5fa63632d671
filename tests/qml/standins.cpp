#include "standins.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QStringList kKnownKinds = {
    QStringLiteral("web"), QStringLiteral("edge-app"), QStringLiteral("video"), QStringLiteral("image"),
    QStringLiteral("screenshot"), QStringLiteral("audio"), QStringLiteral("animated-image"),
};

bool hasAsset(const QQuickItem* surface)
{
    return surface && surface->property("asset").value<QObject*>() != nullptr;
}
} // namespace

SurfaceFactoryStandIn::SurfaceFactoryStandIn(QQmlEngine* engine, const QUrl& surfaceDocument, QObject* parent)
    : QObject(parent)
    , m_engine(engine)
    , m_surfaceDocument(surfaceDocument)
{
}

QQuickItem* SurfaceFactoryStandIn::createSurface(const QString& kind, QQuickItem* surfaceParent)
{
    if (!kKnownKinds.contains(kind)) {
        qWarning("Unknown surface type: %s", qPrintable(kind));
        return nullptr;
    }
    QQmlComponent component(m_engine, m_surfaceDocument);
    auto* item = qobject_cast<QQuickItem*>(component.create());
    if (!item) {
        qWarning("Can't create surface: %s", qPrintable(component.errorString()));
        return nullptr;
    }
    item->setProperty("createdForKind", kind);
    item->setProperty("state", QStringLiteral("LOADING"));
    item->setParentItem(surfaceParent);
    item->setParent(surfaceParent);
    return item;
}

void SurfaceFactoryStandIn::setSurfaceParentItem(QQuickItem* item, QQuickItem* parent)
{
    item->setParentItem(parent);
}

void SurfaceFactoryStandIn::destroySurface(QQuickItem* surface)
{
    connect(surface, SIGNAL(cleanupDone(QQuickItem*)), surface, SLOT(deleteLater()));
    QMetaObject::invokeMethod(surface, "initiateCleanup");
}

bool PlaylistStandIn::evaluatePredicate(const QString& predicate) const
{
    return m_results.value(predicate, false);
}

void PlaylistStandIn::setPredicateResult(const QString& predicate, bool playable)
{
    m_results.insert(predicate, playable);
}

void PlaylistStandIn::clearPredicateResults()
{
    m_results.clear();
}

void WebSettingsStandIn::setupWebSettings(QQuickItem* webSurface)
{
    m_calls.append(QVariantMap{
        {QStringLiteral("call"), QStringLiteral("setupWebSettings")},
        {QStringLiteral("surface"), QVariant::fromValue<QObject*>(webSurface)},
        {QStringLiteral("assetWasSet"), hasAsset(webSurface)},
    });
}

void WebSettingsStandIn::installRequestInterceptor(QQuickItem* webSurface, const QString& url,
                                                   const QVariantMap& headersQml, bool includeMetadata)
{
    m_calls.append(QVariantMap{
        {QStringLiteral("call"), QStringLiteral("installRequestInterceptor")},
        {QStringLiteral("surface"), QVariant::fromValue<QObject*>(webSurface)},
        {QStringLiteral("assetWasSet"), hasAsset(webSurface)},
        {QStringLiteral("url"), url},
        {QStringLiteral("headers"), headersQml},
        {QStringLiteral("includeMetadata"), includeMetadata},
    });
}

TestContent::TestContent(const QString& path, QObject* parent)
    : QObject(parent)
    , m_path(path)
{
}

bool TestContent::writeFile(const QString& relativePath, const QString& text)
{
    QFile file(QDir(m_path).filePath(relativePath));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text.toUtf8()) == text.toUtf8().size();
}

int TestContent::run(const QString& program, const QStringList& arguments)
{
    const QString slides = QDir(m_path).filePath(QStringLiteral("slides"));
    QDir().mkpath(slides);
    QProcess process;
    process.setWorkingDirectory(slides);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}

bool TestContent::holdOpenFifo(const QString& name)
{
    const QByteArray path = QFile::encodeName(QDir(m_path).filePath(QStringLiteral("slides/") + name));
    if (::mkfifo(path.constData(), 0600) != 0)
        return false;
    // Read and write: opening does not wait for a reader, and the reader sees no end.
    const int fd = ::open(path.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    m_fifos << fd;
    return true;
}

void TestContent::releaseFifos()
{
    for (int fd : qAsConst(m_fifos))
        ::close(fd);
    m_fifos.clear();
}
