// Value handles on the QML objects playback works with: a build, a build surface and the
// idle image. Each wraps one pointer it does not own and reaches the object only through
// the meta-object system (properties by name, functions by name), on the main thread.
#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QtGlobal>

#include <ostream>

// What the root asset of a build is, from the asset's `kind` text.
enum class AssetType : qint32 {
    AnimatedImage = 0,
    Image = 1,
    Video = 2,
    Web = 3,
    Screenshot = 4,
    Audio = 5,
    EdgeApp = 6,
    Intro = 7,
    Unknown = 8,
};

// "animated-image", "image", ... ; any other text is Unknown.
AssetType assetTypeFromKind(const QString& kind);
// "AnimatedImage", "Image", ... "Unknown"; a value outside the enumeration is "Unknown".
const char* assetTypeName(AssetType type);
std::ostream& operator<<(std::ostream& stream, AssetType type);

class Build {
public:
    // index: the sequence number playback gave the build, -1 when none.
    explicit Build(QObject* qmlObject = nullptr, int index = -1);

    bool isEmpty() const { return m_qmlObject == nullptr; }
    QObject* qmlObject() const { return m_qmlObject; }
    int index() const { return m_index; }

    // The build's own isPlayable(), i.e. its predicate as the playlist evaluates it.
    bool isPlayable() const;
    // From layer.asset.kind; Unknown (with an error logged) when a link is missing.
    AssetType assetType() const;
    QString assetName() const;
    QString buildSource() const;
    // "Build: 0x<16 hex digits of the object address> <index>".
    QString getUniqueName() const;
    // How long to wait before preparing the next build while this one plays with
    // remainingMs left on its surface. Milliseconds.
    qint64 durationUntilPreload(qint64 remainingMs) const;

private:
    struct AssetErrors {
        const char* noBuild;
        const char* noLayer;
        const char* noAsset;
    };
    // The root layer's asset, or null with the matching error logged.
    QObject* asset(const AssetErrors& errors) const;

    QObject* m_qmlObject;
    int m_index;
};

class BuildSurface {
public:
    enum LoadStatus : qint32 { Null = 0, Loading = 1, Error = 2, Ready = 3 };
    enum State : qint32 { Stopped = 0, Playing = 1 };

    explicit BuildSurface(QObject* qmlObject = nullptr);

    bool isEmpty() const { return m_qmlObject == nullptr; }
    QObject* qmlObject() const { return m_qmlObject; }

    // Milliseconds the build on the surface still has to play; never negative, 0 when the
    // surface is not playing or the handle is empty.
    qint64 remainingDuration() const;
    void deactivate() const;
    void stop() const;
    // Stopped for an empty handle.
    State state() const;

    // "00 Null", "01 Loading", "02 Error", "03 Ready"; anything else is Null.
    static LoadStatus loadStatusFromString(const QString& text);
    // "PLAYING", "STOPPED"; anything else is Stopped.
    static State stateFromString(const QString& text);

private:
    QObject* m_qmlObject;
};

// The main window's image shown while nothing can be played.
class IdleImage {
public:
    explicit IdleImage(QObject* qmlObject = nullptr);

    bool isEmpty() const { return m_qmlObject == nullptr; }
    QObject* qmlObject() const { return m_qmlObject; }

    void setVisible(bool visible) const;

private:
    QObject* m_qmlObject;
};

Q_DECLARE_METATYPE(Build)
Q_DECLARE_METATYPE(BuildSurface)
Q_DECLARE_METATYPE(IdleImage)
