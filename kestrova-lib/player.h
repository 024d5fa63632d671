// Plays one local video file through GStreamer into a GstGLVideoItem of the scene.
//
// QML calls never touch GStreamer: they record a request under the mutex, and the
// requests are applied in the window's afterSynchronizing hook, once per frame, in a
// fixed order. Streaming threads are named, placed and prioritised as they start.
#pragma once

#include "playerutils.h"
#include "viewer.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QUrl>

#include <gst/gst.h>

class QQuickItem;

class Player : public QObject {
    Q_OBJECT
    Q_PROPERTY(QUrl uri READ uri WRITE setUrl NOTIFY uriChanged)
    Q_PROPERTY(Viewer::AudioOutput audioOutput READ audioOutput WRITE setAudioOutput)
    Q_PROPERTY(QQuickItem* output READ getOutputItem WRITE setOutputItem)

public:
    explicit Player(QObject* parent = nullptr);
    ~Player() override;

    QUrl uri();
    void setUrl(const QUrl& uri);
    QQuickItem* getOutputItem();
    void setOutputItem(QQuickItem* output);
    Viewer::AudioOutput audioOutput() const;
    void setAudioOutput(Viewer::AudioOutput output);

    Q_INVOKABLE int bufferingProgress();
    Q_INVOKABLE void play();
    Q_INVOKABLE void pause();
    Q_INVOKABLE void rewind();

    // The pipeline, for diagnostics; null once cleaned up.
    GstElement* pipeline();
    // The streaming-thread tuning table, in lookup order.
    const QList<GstreamerThreadInfo>& threadTable() const { return m_threadInfo; }

    // GStreamer callbacks, forwarded by plain functions with the player as user data.
    void onNewPadAdded(GstPad* pad);
    GstBusSyncReply onBusSyncMessagePlayer(GstBus* bus, GstMessage* message);
    void onBusMessage(GstBus* bus, GstMessage* message);

public slots:
    void cleanup();

signals:
    void uriChanged();
    // The pipeline failed. Always delivered on the player's own (GUI) thread.
    void error();
    // Emitted once, when buffering first reaches 100 %.
    void bufferingProgressChanged();

private:
    void createPipeline();
    void createAudioBin();
    void afterSynchronizing();
    void reportError();
    void requestFrame();

    GstElement* m_pipeline = nullptr;
    GstElement* m_fileSrc = nullptr;
    GstElement* m_decodebin = nullptr;
    GstElement* m_queuePreSink = nullptr;
    GstElement* m_videoQueue = nullptr;
    GstElement* m_qmlSink = nullptr;
    GstElement* m_glUpload = nullptr;
    GstElement* m_audioSink = nullptr;
    GstElement* m_audioConvert = nullptr;
    GstElement* m_audioQueue = nullptr;
    GstElement* m_videoBin = nullptr;
    GstElement* m_audioBin = nullptr;
    GstBus* m_bus = nullptr;
    quint32 m_busWatchId = 0;
    bool m_videoLinked = false;
    bool m_audioLinked = false;
    bool m_outputDirty = false;
    bool m_uriDirty = false;
    bool m_stateChangePending = false;
    bool m_pipelineAlive = true;
    bool m_rewindPending = false;
    bool m_initialPausePending = false;
    bool m_hasPlayed = false;
    GstState m_targetState = GST_STATE_PAUSED;
    QMutex m_mutex;
    QUrl m_uri;
    QQuickItem* m_output = nullptr;
    bool m_buffered = false;
    Viewer::AudioOutput m_audioOutput = Viewer::HDMI;
    QList<GstreamerThreadInfo> m_threadInfo;
};

// The GStreamer QML sink's element name.
QString getQmlSinkName();
// Loads the GStreamer QML plugin, which registers GstGLVideoItem; call before QML loads.
void registerGstreamerQmlComponent();
