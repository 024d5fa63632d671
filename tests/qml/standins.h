// Stand-ins for the native objects that the presentation QML reaches through context
// properties: the surface factory, the playlist's predicate evaluation and the web
// settings. Each test file gets fresh ones with its engine.
#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariantList>

class QQmlEngine;
class QQuickItem;

// Creates TestSurface items for the asset kinds the viewer knows and gives null for any
// other kind, as the real factory does. A new surface is "LOADING", as real surfaces are
// once they have their asset; tests move it on. It is parented to the layer it was
// created for, so it ends with the test's objects at the latest.
class SurfaceFactoryStandIn : public QObject {
    Q_OBJECT
public:
    SurfaceFactoryStandIn(QQmlEngine* engine, const QUrl& surfaceDocument, QObject* parent = nullptr);

    Q_INVOKABLE QQuickItem* createSurface(const QString& kind, QQuickItem* surfaceParent);
    Q_INVOKABLE void setSurfaceParentItem(QQuickItem* item, QQuickItem* parent);
    // initiateCleanup() now, deletion once the surface reports cleanupDone.
    Q_INVOKABLE void destroySurface(QQuickItem* surface);

private:
    QQmlEngine* m_engine;
    QUrl m_surfaceDocument;
};

// The playback machinery as the screenshot surface hears it; tests emit the signal.
class PlaybackControlStandIn : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void screenshotUpdated(int id);
};

// The viewer's content folder as the tests see it ("testContent"): files written there
// and media made there at test time with the command-line tools.
class TestContent : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString path READ path CONSTANT)
public:
    TestContent(const QString& path, QObject* parent = nullptr);

    QString path() const { return m_path; }
    // Relative to the content folder.
    Q_INVOKABLE bool writeFile(const QString& relativePath, const QString& text);
    // Runs a program in the content folder's "slides" directory, where assets resolve;
    // its exit code, -1 when it did not run.
    Q_INVOKABLE int run(const QString& program, const QStringList& arguments);
    // A named pipe in "slides" that this object keeps open for writing: a reader waits
    // for data that never comes, until releaseFifos() ends the stream.
    Q_INVOKABLE bool holdOpenFifo(const QString& name);
    Q_INVOKABLE void releaseFifos();

private:
    QString m_path;
    QList<int> m_fifos;
};

// Answers evaluatePredicate from a table the test fills; predicates not in it are false.
class PlaylistStandIn : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    Q_INVOKABLE bool evaluatePredicate(const QString& predicate) const;
    Q_INVOKABLE void setPredicateResult(const QString& predicate, bool playable);
    Q_INVOKABLE void clearPredicateResults();

private:
    QHash<QString, bool> m_results;
};

// Records its calls, with whether the surface had its asset at that moment.
class WebSettingsStandIn : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariantList calls READ calls)
public:
    using QObject::QObject;

    QVariantList calls() const { return m_calls; }

    Q_INVOKABLE void setupWebSettings(QQuickItem* webSurface);
    Q_INVOKABLE void installRequestInterceptor(QQuickItem* webSurface, const QString& url,
                                               const QVariantMap& headersQml, bool includeMetadata);
    Q_INVOKABLE void clearCalls() { m_calls.clear(); }

private:
    QVariantList m_calls;
};
