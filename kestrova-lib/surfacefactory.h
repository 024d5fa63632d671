// Hands out the QML items that show assets ("surfaces"), one document per asset kind,
// and takes them back: owns every surface it made and deletes it a little after the
// surface reports that it has cleaned up.
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

class QQmlEngine;
class QQuickItem;

class SurfaceFactory : public QObject {
    Q_OBJECT
public:
    // Which document serves "video": QtMultimedia (Qt) or our GStreamer player (Gst).
    // Default means Gst.
    enum class VideoBackend { Qt = 0, Gst = 1, Default = 2 };

    explicit SurfaceFactory(QQmlEngine& engine, QObject* parent = nullptr);

    // The compiled-in document for an asset kind, e.g. "qrc:///qml/ImageSurface.qml".
    // Kinds match exactly. For "video" the backend comes from VIDEO_BACKEND, read on
    // every call. An empty URL, with the reason in the log, for kinds we can't show.
    static QUrl surfaceDocument(const QString& kind);

    // A new surface for the kind, shown inside surfaceParent and owned by the factory;
    // null when the kind is unknown or the document fails.
    Q_INVOKABLE QQuickItem* createSurface(const QString& kind, QQuickItem* surfaceParent);
    // Moves a surface into another layer; ownership stays here.
    Q_INVOKABLE void setSurfaceParentItem(QQuickItem* item, QQuickItem* parent);
    // Asks the surface to clean up; it is deleted once it says it has.
    Q_INVOKABLE void destroySurface(QQuickItem* surface);

public slots:
    void deleteSurfaceLater(QQuickItem* surface);
    void surfaceDestroyed();

private:
    QQmlEngine& m_engine;
    quint32 m_surfaceCount = 0;
};

SurfaceFactory::VideoBackend backendFromString(const QString& value);
// The document file name for a video backend; Default gives the GStreamer one.
QString videoSurfaceName(SurfaceFactory::VideoBackend backend);
