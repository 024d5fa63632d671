#include "player.h"

#include "logging.h"
#include "toplevelwindow.h"

#include <QMetaObject>
#include <QMutexLocker>
#include <QQuickItem>
#include <QQuickWindow>
#include <QThread>

#include <initializer_list>

namespace {

constexpr guint64 kInputQueueMaxTime = 5000000000;  // 5 s
constexpr guint kInputQueueMaxBytes = 10485760;     // 10 MiB
constexpr guint kInputQueueMaxBuffers = 10000;
constexpr guint kDecoderMaxBytes = 41943040;        // 40 MiB
constexpr guint kAudioQueueMaxBytes = 10485760;     // 10 MiB

GstBusSyncReply onBusSyncMessage(GstBus* bus, GstMessage* message, gpointer player)
{
    return static_cast<Player*>(player)->onBusSyncMessagePlayer(bus, message);
}

gboolean handleBusMessage(GstBus* bus, GstMessage* message, gpointer player)
{
    static_cast<Player*>(player)->onBusMessage(bus, message);
    return TRUE;
}

void newPadAdded(GstElement*, GstPad* pad, gpointer player)
{
    static_cast<Player*>(player)->onNewPadAdded(pad);
}

GstElement* makeElement(const char* factory, const char* name = nullptr)
{
    return gst_element_factory_make(factory, name);
}

// Drops elements that were made but never put into a bin.
void discardLoose(std::initializer_list<GstElement*> elements)
{
    for (GstElement* element : elements) {
        if (element && !GST_OBJECT_PARENT(element))
            gst_object_unref(element);
    }
}

bool addSinkGhostPad(GstElement* bin, GstElement* target)
{
    GstPad* targetPad = gst_element_get_static_pad(target, "sink");
    GstPad* ghost = gst_ghost_pad_new("sink", targetPad);
    gst_object_unref(targetPad);
    if (!ghost)
        return false;
    if (!gst_element_add_pad(bin, ghost)) {
        gst_object_unref(ghost);
        return false;
    }
    return true;
}

// Links the decoder's new pad to a bin's "sink" ghost pad.
GstPadLinkReturn linkToBin(GstPad* pad, GstElement* bin)
{
    if (!bin)
        return GST_PAD_LINK_REFUSED;
    GstPad* sink = gst_element_get_static_pad(bin, "sink");
    if (!sink)
        return GST_PAD_LINK_REFUSED;
    const GstPadLinkReturn result = gst_pad_link(pad, sink);
    gst_object_unref(sink);
    return result;
}

} // namespace

Player::Player(QObject* parent)
    : QObject(parent)
    , m_threadInfo{
          {QStringLiteral("queuePreSink:src"), 40, 4, QStringLiteral("video sink thread")},
          {QStringLiteral("queue2:src"), 40, 8, QStringLiteral("audio conversion thread")},
          {QStringLiteral("queue3:src"), 40, 8, QStringLiteral("audio sink thread")},
          {QStringLiteral("queue0:src"), 1, 1, QStringLiteral("demux thread")},
          {QStringLiteral("multiqueue0:src_0"), 40, 4, QStringLiteral("video queue thread")},
          {QStringLiteral("omxh264dec-omxh264dec0:src"), 40, 4, QStringLiteral("video decoder thread")},
          {QStringLiteral("v4l2h264dec1:src"), 40, 4, QStringLiteral("video decoder thread")},
          {QStringLiteral("multiqueue0:src_1"), 40, 8, QStringLiteral("audio decoder thread")},
      }
{
    if (QQuickWindow* window = TopLevelWindow::window())
        connect(window, &QQuickWindow::afterSynchronizing, this, &Player::afterSynchronizing);
    QMutexLocker lock(&m_mutex);
    createPipeline();
}

Player::~Player()
{
    cleanup();
}

void Player::createPipeline()
{
    VLOG(1) << "void Player::createPipeline()";
    m_pipeline = gst_pipeline_new(nullptr);
    m_bus = gst_pipeline_get_bus(GST_PIPELINE(m_pipeline));
    gst_bus_set_sync_handler(m_bus, onBusSyncMessage, this, nullptr);
    m_busWatchId = gst_bus_add_watch(m_bus, handleBusMessage, this);

    m_fileSrc = makeElement("filesrc");
    GstElement* inputQueue = makeElement("queue");
    g_object_set(inputQueue, "max-size-time", kInputQueueMaxTime, "max-size-bytes", kInputQueueMaxBytes,
                 "max-size-buffers", kInputQueueMaxBuffers, nullptr);
    m_decodebin = makeElement("decodebin");
    g_object_set(m_decodebin, "use-buffering", TRUE, "max-size-bytes", kDecoderMaxBytes, nullptr);
    g_signal_connect(m_decodebin, "pad-added", G_CALLBACK(newPadAdded), this);

    m_videoQueue = makeElement("queue");
    m_glUpload = makeElement("glupload");
    GstElement* glColorConvert = nullptr;
    // Whatever was made stays out of the pipeline when the video branch cannot be built.
    const auto giveUp = [&](const char* message) {
        LOG(ERROR) << message;
        discardLoose({m_fileSrc, inputQueue, m_decodebin, m_videoQueue, m_glUpload, glColorConvert, m_qmlSink,
                      m_queuePreSink, m_videoBin});
        m_fileSrc = m_decodebin = m_videoQueue = m_glUpload = m_qmlSink = m_queuePreSink = m_videoBin = nullptr;
    };
    if (!m_glUpload)
        return giveUp("Unable to create glupload");
    glColorConvert = makeElement("glcolorconvert");
    if (!glColorConvert)
        return giveUp("Unable to create glcolorconvert");
    m_qmlSink = makeElement(getQmlSinkName().toUtf8().constData());
    if (!m_qmlSink)
        return giveUp("Unable to create qmlglsink");
    g_object_set(m_qmlSink, "show-preroll-frame", TRUE, "sync", TRUE, nullptr);
    m_videoBin = gst_bin_new("videobin");
    if (!m_videoBin)
        return giveUp("Unable to create videobin");
    m_queuePreSink = makeElement("queue", "queuePreSink");
    gst_bin_add_many(GST_BIN(m_videoBin), m_videoQueue, m_glUpload, glColorConvert, m_queuePreSink, m_qmlSink,
                     nullptr);
    if (!gst_element_link_many(m_videoQueue, m_glUpload, glColorConvert, m_queuePreSink, m_qmlSink, nullptr))
        return giveUp("Unable to link m_qmlSink");
    if (!addSinkGhostPad(m_videoBin, m_videoQueue))
        return giveUp("Unable to add sink ghost pad to m_videoBin");

    gst_bin_add_many(GST_BIN(m_pipeline), m_fileSrc, inputQueue, m_decodebin, nullptr);
    if (!gst_element_link_many(m_fileSrc, inputQueue, m_decodebin, nullptr))
        LOG(ERROR) << "Unable to link the file source to the decoder";
    gst_bin_add(GST_BIN(m_pipeline), m_videoBin);

    m_initialPausePending = true;
    VLOG(1) << "Finished Player::createPipeline()";
}

void Player::createAudioBin()
{
    VLOG(1) << "void Player::createAudioBin()";
    m_audioBin = gst_bin_new("audiobin");
    m_audioConvert = makeElement("audioconvert");
    m_audioSink = makeElement("autoaudiosink");
    GstElement* firstQueue = makeElement("queue");
    m_audioQueue = makeElement("queue");
    if (!m_audioConvert || !m_audioSink || !firstQueue || !m_audioQueue) {
        LOG(ERROR) << "Unable to create the audio branch";
        discardLoose({m_audioConvert, m_audioSink, firstQueue, m_audioQueue, m_audioBin});
        m_audioBin = m_audioConvert = m_audioSink = m_audioQueue = nullptr;
        return;
    }
    g_object_set(m_audioSink, "sync", TRUE, nullptr);
    g_object_set(firstQueue, "max-size-bytes", kAudioQueueMaxBytes, nullptr);
    g_object_set(m_audioQueue, "max-size-bytes", kAudioQueueMaxBytes, nullptr);
    gst_bin_add_many(GST_BIN(m_audioBin), firstQueue, m_audioConvert, m_audioQueue, m_audioSink, nullptr);
    gst_element_link_many(firstQueue, m_audioConvert, m_audioQueue, m_audioSink, nullptr);
    if (!gst_bin_add(GST_BIN(m_pipeline), m_audioBin)) {
        // A second audio stream: its bin's name is taken. The link below then fails.
        gst_object_unref(m_audioBin);
        m_audioBin = nullptr;
        return;
    }
    addSinkGhostPad(m_audioBin, firstQueue);
}

void Player::onNewPadAdded(GstPad* pad)
{
    QMutexLocker lock(&m_mutex);
    if (!m_pipelineAlive)
        return;
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (!caps)
        caps = gst_pad_query_caps(pad, nullptr);
    const QString name = QString::fromUtf8(gst_structure_get_name(gst_caps_get_structure(caps, 0)));
    VLOG(2) << "void Player::onNewPadAdded(GstPad*)" << name;

    if (name.contains(QLatin1String("video"))) {
        if (m_videoBin)
            gst_element_sync_state_with_parent(m_videoBin);
        const GstPadLinkReturn result = linkToBin(pad, m_videoBin);
        if (GST_PAD_LINK_FAILED(result)) {
            LOG(ERROR) << "Video link pad failed: " << int(result);
            reportError();
        } else {
            VLOG(1) << "Video pad connected";
            m_videoLinked = true;
        }
    } else if (name.contains(QLatin1String("audio"))) {
        createAudioBin();
        if (m_audioBin)
            gst_element_sync_state_with_parent(m_audioBin);
        const GstPadLinkReturn result = linkToBin(pad, m_audioBin);
        if (GST_PAD_LINK_FAILED(result)) {
            LOG(WARNING) << "Audio link pad failed: " << int(result);
            reportError();
        } else {
            VLOG(1) << "Audio pad connected";
            m_audioLinked = true;
        }
    }
    gst_caps_unref(caps);
}

GstBusSyncReply Player::onBusSyncMessagePlayer(GstBus*, GstMessage* message)
{
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_STATE_CHANGED: {
        GstState oldState;
        GstState newState;
        gst_message_parse_state_changed(message, &oldState, &newState, nullptr);
        if (oldState != GST_STATE_PAUSED || newState != GST_STATE_PLAYING)
            break;
        // The top-level bin of the sender is the pipeline; m_pipeline itself may be
        // going away on the GUI thread while a streaming thread is here.
        GstObject* top = GST_OBJECT(gst_object_ref(GST_MESSAGE_SRC(message)));
        while (GstObject* parent = gst_object_get_parent(top)) {
            gst_object_unref(top);
            top = parent;
        }
        if (GST_IS_BIN(top))
            GST_DEBUG_BIN_TO_DOT_FILE(GST_BIN(top), GST_DEBUG_GRAPH_SHOW_ALL, "pipeline-paused-playing");
        gst_object_unref(top);
        break;
    }
    case GST_MESSAGE_STREAM_STATUS: {
        GstStreamStatusType type;
        gst_message_parse_stream_status(message, &type, nullptr);
        if (type != GST_STREAM_STATUS_TYPE_ENTER)
            break;
        const GValue* status = gst_message_get_stream_status_object(message);
        if (!status || G_VALUE_TYPE(status) != GST_TYPE_TASK)
            break;
        GstTask* task = GST_TASK(g_value_get_object(status));
        gchar* taskName = gst_object_get_name(GST_OBJECT(task));
        const QString name = QString::fromUtf8(taskName);
        g_free(taskName);
        // The enter message comes from the task's own thread.
        GThread* thread = g_thread_self();
        for (const GstreamerThreadInfo& info : m_threadInfo) {
            if (info.taskName == name) {
                setGstreamerThreadAffinityAndPriority(thread, info);
                return GST_BUS_PASS;
            }
        }
        setGthreadRealtimePriority(thread, 1, name);
        setGthreadCpuAffinity(thread, 1, name);
        break;
    }
    default:
        break;
    }
    return GST_BUS_PASS;
}

void Player::onBusMessage(GstBus*, GstMessage* message)
{
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR: {
        GError* error = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(message, &error, &debug);
        LOG(ERROR) << "Player error: " << (error ? error->message : "");
        g_clear_error(&error);
        g_free(debug);
        reportError();
        break;
    }
    case GST_MESSAGE_BUFFERING: {
        gint percent = 0;
        gst_message_parse_buffering(message, &percent);
        VLOG(2) << "Buffer: " << percent;
        if (!m_buffered) {
            m_buffered = percent == 100;
            if (m_buffered)
                emit bufferingProgressChanged();
        }
        break;
    }
    default:
        break;
    }
}

void Player::reportError()
{
    // Handlers call cleanup(), which takes the lock a streaming thread may be holding:
    // they always run on the player's own thread, after the emitter has moved on.
    if (QThread::currentThread() == thread()) {
        emit error();
        return;
    }
    QMetaObject::invokeMethod(
        this, [this] { emit error(); }, Qt::QueuedConnection);
}

void Player::requestFrame()
{
    // Requests are applied at the next synchronisation; ask for one, as a still scene
    // would otherwise render no frame at all.
    if (m_output && m_output->window())
        m_output->window()->update();
    else if (QQuickWindow* window = TopLevelWindow::window())
        window->update();
}

void Player::afterSynchronizing()
{
    QMutexLocker lock(&m_mutex);
    VLOG(2) << "Player::afterSynchronizing()";
    if (!m_pipelineAlive || !m_pipeline)
        return;

    if (m_outputDirty) {
        if (m_qmlSink)
            g_object_set(m_qmlSink, "widget", static_cast<gpointer>(m_output), nullptr);
        m_outputDirty = false;
        VLOG(1) << "Set m_qmlSink widget";
    }
    if (m_uriDirty) {
        if (m_fileSrc)
            g_object_set(m_fileSrc, "location", m_uri.toLocalFile().toUtf8().constData(), nullptr);
        m_uriDirty = false;
        m_initialPausePending = true;
        m_hasPlayed = false;
        VLOG(1) << "Set m_fileSrc location";
    }
    if (m_initialPausePending && m_output && !m_outputDirty && !m_uriDirty) {
        gst_element_set_state(m_pipeline, GST_STATE_PAUSED);
        m_initialPausePending = false;
        VLOG(1) << "Player::afterSynchronizing() setup ready; transitioned to initial PAUSED state";
    }
    if (m_rewindPending) {
        VLOG(1) << "Seeking to position 0";
        if (m_hasPlayed) {
            gint64 position = 0;
            if (!gst_element_query_position(m_pipeline, GST_FORMAT_TIME, &position)) {
                LOG(WARNING) << "gst_element_query_position() failed";
            } else if (position > 0) {
                if (gst_element_seek_simple(m_pipeline, GST_FORMAT_TIME,
                                            GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT), 0))
                    LOG(INFO) << "Seeking succeeded. Initial position: " << position;
                else
                    LOG(WARNING) << "Seeking failed";
            } else {
                VLOG(2) << "Video was already at position 0";
            }
        }
        m_rewindPending = false;
    }
    if (m_stateChangePending) {
        const GstStateChangeReturn result = gst_element_set_state(m_pipeline, m_targetState);
        VLOG(2) << "Player::afterSynchronizing() gst_element_set_state " << int(m_targetState) << ": "
                << int(result);
        if (result == GST_STATE_CHANGE_FAILURE) {
            LOG(ERROR) << "Pipeline state change failed";
            // Still pending: tried again at the next synchronisation.
            requestFrame();
        } else {
            m_hasPlayed = m_hasPlayed || m_targetState == GST_STATE_PLAYING;
            m_stateChangePending = false;
        }
    }
}

void Player::cleanup()
{
    GstElement* pipeline = nullptr;
    {
        QMutexLocker lock(&m_mutex);
        if (!m_pipelineAlive || !m_pipeline)
            return;
        if (m_busWatchId)
            g_source_remove(m_busWatchId);
        m_busWatchId = 0;
        gst_bus_set_sync_handler(m_bus, nullptr, nullptr, nullptr);
        gst_object_unref(m_bus);
        m_bus = nullptr;
        pipeline = m_pipeline;
        m_pipeline = nullptr;
        m_fileSrc = m_decodebin = m_queuePreSink = m_videoQueue = m_qmlSink = m_glUpload = nullptr;
        m_audioSink = m_audioConvert = m_audioQueue = m_videoBin = m_audioBin = nullptr;
        m_pipelineAlive = false;
    }
    // Outside the lock: stopping joins the streaming threads, and one of them may be
    // waiting for the lock in the decoder's pad-added handler.
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
}

GstElement* Player::pipeline()
{
    QMutexLocker lock(&m_mutex);
    return m_pipeline;
}

QUrl Player::uri()
{
    QMutexLocker lock(&m_mutex);
    return m_uri;
}

void Player::setUrl(const QUrl& uri)
{
    QMutexLocker lock(&m_mutex);
    m_uri = uri;
    m_uriDirty = true;
    requestFrame();
}

QQuickItem* Player::getOutputItem()
{
    QMutexLocker lock(&m_mutex);
    return m_output;
}

void Player::setOutputItem(QQuickItem* output)
{
    QMutexLocker lock(&m_mutex);
    m_output = output;
    m_outputDirty = true;
    // Without the main window (a test scene), follow the window the output is shown in.
    if (!TopLevelWindow::window() && output && output->window())
        connect(output->window(), &QQuickWindow::afterSynchronizing, this, &Player::afterSynchronizing,
                Qt::UniqueConnection);
    requestFrame();
}

Viewer::AudioOutput Player::audioOutput() const
{
    return m_audioOutput;
}

void Player::setAudioOutput(Viewer::AudioOutput output)
{
    m_audioOutput = output;
}

int Player::bufferingProgress()
{
    return m_buffered ? 100 : 0;
}

void Player::play()
{
    QMutexLocker lock(&m_mutex);
    VLOG(1) << "void Player::play()";
    if (!m_output) {
        LOG(WARNING) << "Must set 'output' property before calling play";
        return;
    }
    m_targetState = GST_STATE_PLAYING;
    m_stateChangePending = true;
    requestFrame();
}

void Player::pause()
{
    QMutexLocker lock(&m_mutex);
    VLOG(1) << "void Player::pause()";
    m_targetState = GST_STATE_PAUSED;
    m_stateChangePending = true;
    requestFrame();
}

void Player::rewind()
{
    QMutexLocker lock(&m_mutex);
    VLOG(1) << "void Player::rewind()";
    m_rewindPending = true;
    requestFrame();
}

QString getQmlSinkName()
{
    return QStringLiteral("qmlglsink");
}

void registerGstreamerQmlComponent()
{
    GstElement* sink = gst_element_factory_make(getQmlSinkName().toUtf8().constData(), nullptr);
    if (!sink) {
        LOG(WARNING) << "Can't instantiate qmlglsink";
        return;
    }
    gst_object_unref(sink);
}
