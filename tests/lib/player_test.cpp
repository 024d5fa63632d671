// The GStreamer video player with real pipelines on files made by gst-launch-1.0, drawing
// into a GstGLVideoItem of a real window on the test's X display.
#include "player.h"

#include "guitestmain.h"
#include "logcapture.h"
#include "toplevelwindow.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QQuickItem>
#include <QQuickView>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include <sched.h>
#include <unistd.h>

using testsupport::LogCapture;
using testsupport::Verbosity;

namespace {

// A flat background, so the first frame is recognisable on screen.
constexpr QRgb kBackground = 0x2060a0;

QTemporaryDir* media = nullptr;

QString mediaPath(const QString& name)
{
    return media->filePath(name);
}

bool makeMedia(const QString& pipeline)
{
    QProcess launch;
    launch.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("gst-launch-1.0 -q ") + pipeline});
    return launch.waitForFinished(60000) && launch.exitCode() == 0;
}

bool contains(const std::vector<std::string>& lines, const std::string& text)
{
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

GstState stateOf(GstElement* pipeline)
{
    GstState state = GST_STATE_VOID_PENDING;
    gst_element_get_state(pipeline, &state, nullptr, 0);
    return state;
}

gint64 positionOf(GstElement* pipeline)
{
    gint64 position = -1;
    gst_element_query_position(pipeline, GST_FORMAT_TIME, &position);
    return position;
}

bool near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) < 24 && std::abs(qGreen(a) - qGreen(b)) < 24 &&
           std::abs(qBlue(a) - qBlue(b)) < 24;
}

class PlayerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        media = new QTemporaryDir;
        const QString ball = QStringLiteral(
            "videotestsrc num-buffers=%1 pattern=ball background-color=0xff2060a0 ! "
            "video/x-raw,width=320,height=240,framerate=30/1,format=I420 ! ");
        ASSERT_TRUE(makeMedia(ball.arg(150) + "x264enc speed-preset=ultrafast ! mp4mux ! filesink location=" +
                              mediaPath("video.mp4")));
        ASSERT_TRUE(makeMedia(ball.arg(60) + "vp8enc deadline=1 ! webmmux name=m ! filesink location=" +
                              mediaPath("av.webm") +
                              " audiotestsrc num-buffers=100 ! audioconvert ! vorbisenc ! m."));
        ASSERT_TRUE(makeMedia(ball.arg(30) + "vp8enc deadline=1 ! matroskamux name=m ! filesink location=" +
                              mediaPath("two-videos.mkv") + " " + ball.arg(30) + "vp8enc deadline=1 ! m."));
        QFile corrupt(mediaPath("corrupt.mp4"));
        ASSERT_TRUE(corrupt.open(QIODevice::WriteOnly));
        corrupt.write(QByteArray(64 * 1024, 'x'));
    }
    static void TearDownTestSuite()
    {
        delete media;
        media = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(m_qml.isValid());
        QFile document(m_qml.filePath(QStringLiteral("scene.qml")));
        ASSERT_TRUE(document.open(QIODevice::WriteOnly));
        document.write("import QtQuick 2.15\n"
                       "import org.freedesktop.gstreamer.GLVideoItem 1.0\n"
                       "Rectangle {\n"
                       "    width: 320; height: 240; color: \"black\"\n"
                       "    GstGLVideoItem { objectName: \"output\"; anchors.fill: parent }\n"
                       "}\n");
        document.close();
        m_view = std::make_unique<QQuickView>();
        m_view->setSource(QUrl::fromLocalFile(document.fileName()));
        ASSERT_EQ(m_view->status(), QQuickView::Ready);
        m_output = m_view->rootObject()->findChild<QQuickItem*>(QStringLiteral("output"));
        ASSERT_NE(m_output, nullptr);
        m_view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_view.get()));
        TopLevelWindow::setWindow(m_view.get());
    }

    void TearDown() override
    {
        TopLevelWindow::setWindow(nullptr);
        m_view.reset();
    }

    std::unique_ptr<Player> configuredPlayer(const QString& file)
    {
        auto player = std::make_unique<Player>();
        player->setUrl(QUrl::fromLocalFile(mediaPath(file)));
        player->setOutputItem(m_output);
        return player;
    }

    static bool reachesState(Player& player, GstState state, int timeoutMs = 20000)
    {
        return QTest::qWaitFor([&] { return player.pipeline() && stateOf(player.pipeline()) == state; }, timeoutMs);
    }

    QRgb shownAt(int x, int y) { return m_view->grabWindow().pixel(x, y) & 0xFFFFFF; }

    QTemporaryDir m_qml;
    std::unique_ptr<QQuickView> m_view;
    QQuickItem* m_output = nullptr;
};

} // namespace

TEST_F(PlayerTest, FileAndOutputAloneHoldTheFirstFramePaused)
{
    LogCapture log;
    Verbosity verbose(1);
    auto player = configuredPlayer(QStringLiteral("video.mp4"));
    ASSERT_TRUE(reachesState(*player, GST_STATE_PAUSED));
    EXPECT_TRUE(contains(log.messages(google::GLOG_INFO),
                         "Player::afterSynchronizing() setup ready; transitioned to initial PAUSED state"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return near(shownAt(4, 4), kBackground); }, 10000))
        << "the first frame is drawn without play()";

    const gint64 position = positionOf(player->pipeline());
    QTest::qWait(500);
    EXPECT_EQ(stateOf(player->pipeline()), GST_STATE_PAUSED);
    EXPECT_EQ(positionOf(player->pipeline()), position);
}

TEST_F(PlayerTest, PlayBeforeOutputIsDroppedForGood)
{
    LogCapture log;
    auto player = std::make_unique<Player>();
    player->setUrl(QUrl::fromLocalFile(mediaPath(QStringLiteral("video.mp4"))));
    player->play();
    EXPECT_TRUE(contains(log.messages(google::GLOG_WARNING), "Must set 'output' property before calling play"));

    player->setOutputItem(m_output);
    ASSERT_TRUE(reachesState(*player, GST_STATE_PAUSED));
    EXPECT_FALSE(reachesState(*player, GST_STATE_PLAYING, 1500));
}

TEST_F(PlayerTest, RewindSeeksOnlyOnceThePlayerHasPlayed)
{
    LogCapture log;
    Verbosity verbose(1);
    auto player = configuredPlayer(QStringLiteral("video.mp4"));
    ASSERT_TRUE(reachesState(*player, GST_STATE_PAUSED));

    player->rewind();
    ASSERT_TRUE(QTest::qWaitFor([&] { return contains(log.messages(google::GLOG_INFO), "Seeking to position 0"); },
                                5000));
    QTest::qWait(200);
    EXPECT_FALSE(contains(log.messages(google::GLOG_INFO), "Seeking succeeded"));

    player->play();
    ASSERT_TRUE(reachesState(*player, GST_STATE_PLAYING));
    ASSERT_TRUE(QTest::qWaitFor([&] { return positionOf(player->pipeline()) > GST_SECOND; }, 10000));
    const gint64 before = positionOf(player->pipeline());
    player->rewind();
    ASSERT_TRUE(QTest::qWaitFor([&] { return contains(log.messages(google::GLOG_INFO), "Seeking succeeded"); },
                                5000));
    EXPECT_LT(positionOf(player->pipeline()), before);
}

TEST_F(PlayerTest, BufferingLatchesAtTheFirstHundredPercent)
{
    // No file: the only buffering messages are the ones posted here.
    Player player;
    QSignalSpy changed(&player, &Player::bufferingProgressChanged);
    GstBus* bus = gst_element_get_bus(player.pipeline());
    const struct {
        int posted;
        int progress;
    } steps[] = {{30, 0}, {100, 100}, {40, 100}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.posted);
        LogCapture log;
        Verbosity verbose(2);
        gst_bus_post(bus, gst_message_new_buffering(GST_OBJECT(player.pipeline()), step.posted));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return contains(log.messages(google::GLOG_INFO), "Buffer: " + std::to_string(step.posted)); },
            5000));
        EXPECT_EQ(player.bufferingProgress(), step.progress);
    }
    gst_object_unref(bus);
    EXPECT_EQ(changed.count(), 1);
}

TEST_F(PlayerTest, CleanupTwiceAndRequestsAfterwardsAreHarmless)
{
    auto player = configuredPlayer(QStringLiteral("video.mp4"));
    ASSERT_TRUE(reachesState(*player, GST_STATE_PAUSED));
    player->cleanup();
    EXPECT_EQ(player->pipeline(), nullptr);
    player->cleanup();

    LogCapture log;
    Verbosity verbose(2);
    player->play();
    player->rewind();
    player->setUrl(QUrl::fromLocalFile(mediaPath(QStringLiteral("av.webm"))));
    QTest::qWait(300);
    for (const std::string& line : log.messages(google::GLOG_INFO)) {
        EXPECT_EQ(line.find("gst_element_set_state"), std::string::npos) << line;
        EXPECT_EQ(line.find("Set m_fileSrc location"), std::string::npos) << line;
    }
}

TEST_F(PlayerTest, AudioBranchOnlyForFilesWithSound)
{
    const struct {
        const char* file;
        bool audio;
    } cases[] = {{"video.mp4", false}, {"av.webm", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        LogCapture log;
        Verbosity verbose(1);
        auto player = configuredPlayer(QString::fromLatin1(c.file));
        ASSERT_TRUE(reachesState(*player, GST_STATE_PAUSED));
        const auto lines = log.messages(google::GLOG_INFO);
        EXPECT_TRUE(contains(lines, "Video pad connected"));
        EXPECT_EQ(contains(lines, "void Player::createAudioBin()"), c.audio);
        EXPECT_EQ(contains(lines, "Audio pad connected"), c.audio);
    }
}

// Errors reach their handlers on the player's thread, whether the bus reported them or a
// streaming thread failed to link a second video stream.
TEST_F(PlayerTest, FailuresAreReportedOnThePlayersThread)
{
    const struct {
        const char* file;
        google::LogSeverity severity;
        const char* text;
    } cases[] = {
        {"corrupt.mp4", google::GLOG_ERROR, "Player error: "},
        {"two-videos.mkv", google::GLOG_ERROR, "Video link pad failed: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        LogCapture log;
        auto player = configuredPlayer(QString::fromLatin1(c.file));
        QThread* handlerThread = nullptr;
        int errors = 0;
        QObject::connect(player.get(), &Player::error, player.get(), [&] {
            handlerThread = QThread::currentThread();
            ++errors;
            player->cleanup();
        }, Qt::DirectConnection);
        ASSERT_TRUE(QTest::qWaitFor([&] { return errors > 0; }, 20000));
        EXPECT_EQ(handlerThread, QThread::currentThread());
        EXPECT_TRUE(contains(log.messages(c.severity), c.text));
        EXPECT_EQ(player->pipeline(), nullptr);
    }
}

namespace {

struct TaskThread {
    QString name;
    int policy = -1;
    int priority = -1;
    cpu_set_t cpus{};
};

std::vector<TaskThread> processThreads()
{
    std::vector<TaskThread> threads;
    for (const QString& tid : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(tid));
        if (!comm.open(QIODevice::ReadOnly))
            continue;
        TaskThread thread;
        thread.name = QString::fromUtf8(comm.readAll()).trimmed();
        const pid_t id = tid.toInt();
        thread.policy = sched_getscheduler(id);
        sched_param param{};
        if (sched_getparam(id, &param) == 0)
            thread.priority = param.sched_priority;
        sched_getaffinity(id, sizeof(thread.cpus), &thread.cpus);
        threads.push_back(thread);
    }
    return threads;
}

QString inputQueueName(GstElement* pipeline)
{
    QString name;
    GstIterator* it = gst_bin_iterate_elements(GST_BIN(pipeline));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto* element = GST_ELEMENT(g_value_get_object(&item));
        gchar* elementName = gst_element_get_name(element);
        if (QString::fromUtf8(elementName).startsWith(QLatin1String("queue")))
            name = QString::fromUtf8(elementName);
        g_free(elementName);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return name;
}

} // namespace

TEST_F(PlayerTest, StreamingThreadsAreNamedAndPlaced)
{
    auto player = configuredPlayer(QStringLiteral("av.webm"));
    ASSERT_TRUE(reachesState(*player, GST_STATE_PAUSED));
    player->play();
    ASSERT_TRUE(reachesState(*player, GST_STATE_PLAYING));

    // The input queue's thread is the demux thread when it got GStreamer's first queue
    // number; otherwise it keeps its task name. Names over 15 bytes are refused by the
    // system, so "video sink thread" and the like keep their old names.
    const QString queue = inputQueueName(player->pipeline());
    ASSERT_FALSE(queue.isEmpty());
    const QString demuxName = queue == QLatin1String("queue0") ? QStringLiteral("demux thread") : queue + ":src";
    const auto threads = processThreads();
    const auto demux = std::find_if(threads.begin(), threads.end(), [&](const TaskThread& t) { return t.name == demuxName; });
    ASSERT_NE(demux, threads.end()) << demuxName.toStdString();
    const auto fileSource = std::find_if(threads.begin(), threads.end(), [](const TaskThread& t) {
        return t.name.startsWith(QLatin1String("filesrc")) && t.name.endsWith(QLatin1String(":src"));
    });
    ASSERT_NE(fileSource, threads.end());

    if (geteuid() != 0)
        GTEST_SKIP() << "real-time priorities need root";
    for (const TaskThread* thread : {&*demux, &*fileSource}) {
        SCOPED_TRACE(thread->name.toStdString());
        EXPECT_EQ(thread->policy & ~SCHED_RESET_ON_FORK, SCHED_FIFO);
        EXPECT_EQ(thread->priority, 1);
        EXPECT_EQ(CPU_COUNT(&thread->cpus), 1);
        EXPECT_TRUE(CPU_ISSET(0, &thread->cpus));
    }
    // The video sink thread is known by its task name and gets priority 40 (its CPU 2 may
    // not exist here).
    EXPECT_TRUE(std::any_of(threads.begin(), threads.end(), [](const TaskThread& t) {
        return (t.policy & ~SCHED_RESET_ON_FORK) == SCHED_FIFO && t.priority == 40;
    }));
}

namespace {
QTemporaryDir* dotDirectory = nullptr;
}

// GStreamer writes pipeline graphs only when a folder is configured for them.
TEST_F(PlayerTest, StartingToPlayWritesThePipelineGraph)
{
    auto player = configuredPlayer(QStringLiteral("video.mp4"));
    ASSERT_TRUE(reachesState(*player, GST_STATE_PAUSED));
    QDir dots(dotDirectory->path());
    // Players of earlier tests have played already.
    for (const QString& old : dots.entryList(QDir::Files))
        dots.remove(old);
    QTest::qWait(300);
    EXPECT_TRUE(dots.entryList(QDir::Files).isEmpty()) << "a paused player writes no graph";
    player->play();
    ASSERT_TRUE(reachesState(*player, GST_STATE_PLAYING));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return !dots.entryList({QStringLiteral("*pipeline-paused-playing.dot")}).isEmpty(); }, 5000));
}

int main(int argc, char** argv)
{
    return testsupport::runGuiTests(argc, argv, [] {
        dotDirectory = new QTemporaryDir;
        qputenv("GST_DEBUG_DUMP_DOT_DIR", QFile::encodeName(dotDirectory->path()));
        gst_init(nullptr, nullptr);
        registerGstreamerQmlComponent();
    });
}
