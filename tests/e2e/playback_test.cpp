// Playback as a viewer's audience sees it: builds of full-screen coloured images from
// content folders written by the test, checked on screen and in the log.
#include "screen.h"
#include "viewerprocess.h"

#include "predicatecompiler.h"
#include "predicateparser.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>


using namespace std::chrono_literals;
using testsupport::ViewerProcess;

namespace {

constexpr auto startTimeout = 60s;
const QRgb kRed = 0xFF0000;
const QRgb kBlue = 0x0000FF;
const QRgb kBlack = 0x000000;

QString compileDefinition(const QString& expression)
{
    predicate::PredicateParser parser(expression);
    const auto expr = parser.parse();
    predicate::PredicateCompiler compiler;
    const auto body = compiler.compile(*expr);
    return predicate::PredicateCompiler::definition(predicate::PredicateCompiler::container(*body));
}

struct BuildSpec {
    QString image;   // file under slides/
    double duration; // seconds
    QString kind = QStringLiteral("image");
};

// A content folder: predicate 0 always holds, 1 never does.
class Presentation {
public:
    Presentation()
    {
        QDir(m_dir.path()).mkpath(QStringLiteral("slides"));
        image(QStringLiteral("red.png"), QStringLiteral("red"));
        image(QStringLiteral("blue.png"), QStringLiteral("blue"));
    }
    QString path() const { return m_dir.path(); }

    void image(const QString& name, const QString& colour)
    {
        QProcess::execute(QStringLiteral("convert"), {QStringLiteral("-size"), QStringLiteral("1920x1080"),
                                                      QStringLiteral("xc:") + colour, slidesPath(name)});
    }
    // A moving ball on a flat background, 30 frames a second, H.264 in MP4.
    void video(const QString& name, int seconds)
    {
        QProcess::execute(QStringLiteral("sh"),
                          {QStringLiteral("-c"),
                           QStringLiteral("gst-launch-1.0 -q videotestsrc num-buffers=%1 pattern=ball "
                                          "background-color=0xff2060a0 ! "
                                          "video/x-raw,width=640,height=360,framerate=30/1,format=I420 ! "
                                          "x264enc speed-preset=ultrafast ! mp4mux ! filesink location='%2'")
                               .arg(seconds * 30)
                               .arg(slidesPath(name))});
    }
    // A slide whose only build never finishes loading: its layer stays loading for good.
    void endlessSlide(const QString& name)
    {
        write(QStringLiteral("slides/") + name + ".qml",
              "import QtQuick 2.2\nimport Kestrova 1.0\nSlide {\n    builds: [\n"
              "        Build { duration: 5; layer: Layer {\n"
              "            function _prepare(previousBuild) { status = kLoading }\n"
              "            function checkStatus() {}\n"
              "            PauseAnimation { duration: 5000 } } }\n"
              "    ]\n}\n");
    }

    void slide(const QString& name, const QList<BuildSpec>& builds)
    {
        QByteArray text = "import QtQuick 2.2\nimport Kestrova 1.0\nSlide {\n    builds: [\n";
        for (int i = 0; i < builds.size(); ++i) {
            // A build plays as long as its layers animate: a pause holds it for its duration.
            // A video is started by its build.
            const bool video = builds[i].kind == QLatin1String("video");
            text += QStringLiteral("        Build { duration: %1; layer: Layer { id: layer%5; asset: Asset { "
                                   "tag: \"%2\"; kind: \"%6\"; name: \"%2\"; source: \"%2\" }\n"
                                   "            SequentialAnimation { %7PauseAnimation { duration: %3 } } } }%4\n")
                        .arg(builds[i].duration)
                        .arg(builds[i].image)
                        .arg(int(builds[i].duration * 1000))
                        .arg(i + 1 < builds.size() ? "," : "")
                        .arg(i)
                        .arg(builds[i].kind)
                        .arg(video ? QStringLiteral("ScriptAction { script: layer%1.playMedia() } ").arg(i) : QString())
                        .toUtf8();
        }
        text += "    ]\n}\n";
        write(QStringLiteral("slides/") + name + ".qml", text);
    }

    void playlist(const QList<QPair<QString, int>>& slides)
    {
        QJsonArray list;
        for (const auto& slide : slides)
            list.append(QJsonObject{{"name", slide.first}, {"predicates", QJsonArray{slide.second}}});
        QJsonArray registry{compileDefinition("always"), compileDefinition("never")};
        for (const QString& expression : m_extraPredicates)
            registry.append(compileDefinition(expression));
        write(QStringLiteral("playlist.json"),
              QJsonDocument(QJsonObject{{"predicates", registry}, {"slides", list}}).toJson());
    }

    // Adds a registry entry after "always" and "never"; returns its index.
    int addPredicate(const QString& expression)
    {
        m_extraPredicates << expression;
        return 1 + m_extraPredicates.size();
    }

private:
    QString slidesPath(const QString& name) const { return m_dir.filePath(QStringLiteral("slides/") + name); }
    void write(const QString& relative, const QByteArray& bytes)
    {
        const QString target = m_dir.filePath(relative);
        QFile file(target + ".new");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        ASSERT_TRUE(::rename(QFile::encodeName(target + ".new").constData(), QFile::encodeName(target).constData()) == 0);
    }
    QTemporaryDir m_dir;
    QStringList m_extraPredicates;
};

class PlaybackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("KESTROVA_VIEWER")) << "the CTest registration sets it";
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "source tools/headless-env.sh before running";
    }

    bool start(ViewerProcess& viewer, const QStringList& options = {}, const QStringList& environment = {})
    {
        return viewer.start(options + QStringList{presentation.path()},
                            QStringList{QStringLiteral("GLOG_logtostderr=1")} + environment);
    }
    // With QML's console.log and the player's steps in the log.
    bool startVerbose(ViewerProcess& viewer) { return start(viewer, {}, {QStringLiteral("GLOG_v=1")}); }

    // Waits until the middle of the screen shows the colour.
    bool screenShows(QRgb colour, std::chrono::milliseconds timeout)
    {
        const auto shows = [colour](const QImage& shot) { return testsupport::centreColour(shot) == colour; };
        return shows(testsupport::waitForScreen(shots.filePath(QStringLiteral("s.png")), shows, timeout));
    }

    QRgb screenNow() { return testsupport::centreColour(testsupport::grabScreen(shots.filePath(QStringLiteral("s.png")))); }

    Presentation presentation;
    QTemporaryDir shots;
};

} // namespace

TEST_F(PlaybackTest, TwoImageBuildsPlayInTurnAndTheFirstIsReported)
{
    presentation.slide("red", {{"red.png", 10}});
    presentation.slide("blue", {{"blue.png", 10}});
    presentation.playlist({{"red", 0}, {"blue", 0}});
    ViewerProcess viewer;
    ASSERT_TRUE(start(viewer)) << viewer.errorString().toStdString();
    ASSERT_TRUE(screenShows(kRed, startTimeout)) << viewer.standardError().toStdString();
    const QString early = viewer.standardError();
    EXPECT_TRUE(early.contains(QStringLiteral("Time to preload: 0 ms"))) << early.toStdString();
    EXPECT_FALSE(early.contains(QStringLiteral("Played build:"))) << "the first build reports nothing";

    // The next build is asked for once five seconds or less remain, and swapped in at the end.
    EXPECT_TRUE(viewer.waitForStandardError(QStringLiteral("Ready to find and preload next build"), 30s));
    EXPECT_EQ(screenNow(), kRed) << "the first build still plays while the second is prepared";
    ASSERT_TRUE(screenShows(kBlue, 30s)) << viewer.standardError().toStdString();
    ASSERT_TRUE(viewer.waitForStandardError(QStringLiteral("Play counter: 0"), 10s));
    const QString log = viewer.standardError();
    EXPECT_TRUE(log.contains(QStringLiteral("Played build:\nAsset type: Image\nAsset name: red.png\nPlay counter: 0\n")))
        << log.toStdString();
}

// A screen mounted upright: a portrait picture, red above blue, turned a quarter turn
// clockwise fills the landscape window, its top on the right.
TEST_F(PlaybackTest, RotatedScreenTurnsTheBuildToFillTheWindow)
{
    QProcess::execute(QStringLiteral("convert"),
                      {QStringLiteral("-size"), QStringLiteral("1080x960"), QStringLiteral("xc:red"),
                       QStringLiteral("xc:blue"), QStringLiteral("-append"),
                       QDir(presentation.path()).filePath(QStringLiteral("slides/portrait.png"))});
    presentation.slide("portrait", {{"portrait.png", 30}});
    presentation.playlist({{"portrait", 0}});
    QFile rotation(QDir(presentation.path()).filePath(QStringLiteral(".rotation")));
    ASSERT_TRUE(rotation.open(QIODevice::WriteOnly));
    rotation.write("1\n");
    rotation.close();

    ViewerProcess viewer;
    ASSERT_TRUE(start(viewer)) << viewer.errorString().toStdString();
    const QImage shot = testsupport::waitForScreen(
        shots.filePath(QStringLiteral("s.png")),
        [](const QImage& shot) { return (shot.pixel(1440, 540) & 0xFFFFFF) == kRed; }, startTimeout);
    ASSERT_FALSE(shot.isNull());
    const auto at = [&](int x, int y) { return shot.pixel(x, y) & 0xFFFFFF; };
    EXPECT_EQ(at(1440, 540), kRed) << viewer.standardError().toStdString();
    EXPECT_EQ(at(480, 540), kBlue);
    // Nothing cut off and no black border: the turned picture reaches every corner.
    EXPECT_EQ(at(4, 4), kBlue);
    EXPECT_EQ(at(4, 1075), kBlue);
    EXPECT_EQ(at(1915, 4), kRed);
    EXPECT_EQ(at(1915, 1075), kRed);
}

TEST_F(PlaybackTest, StopAfterExitsOnceTheNthBuildHasPlayed)
{
    presentation.slide("red", {{"red.png", 2}, {"blue.png", 2}});
    presentation.playlist({{"red", 0}});
    ViewerProcess viewer;
    ASSERT_TRUE(start(viewer, {QStringLiteral("--stop-after"), QStringLiteral("3")}));
    const auto exit = viewer.waitForExit(90s);
    ASSERT_TRUE(exit.finished) << viewer.standardError().toStdString();
    EXPECT_FALSE(exit.crashed) << viewer.standardError().toStdString();
    EXPECT_EQ(exit.code, 0);
    const QString log = viewer.standardError();
    EXPECT_TRUE(log.contains(QStringLiteral("Play counter: 2"))) << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("Play counter: 3")));
}

// A picture that is not there, a video that is no video: the build is skipped while the
// one before keeps playing.
TEST_F(PlaybackTest, BrokenBuildIsSkippedWhileTheCurrentOneKeepsPlaying)
{
    {
        QFile corrupt(QDir(presentation.path()).filePath(QStringLiteral("slides/corrupt.mp4")));
        ASSERT_TRUE(corrupt.open(QIODevice::WriteOnly));
        corrupt.write(QByteArray(4096, 'x'));
    }
    const struct {
        BuildSpec broken;
        const char* logged;
    } cases[] = {
        {{QStringLiteral("missing.png"), 8}, "Failed to load image"},
        {{QStringLiteral("corrupt.mp4"), 8, QStringLiteral("video")}, "Player error: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.broken.image.toStdString());
        presentation.slide("red", {{"red.png", 8}});
        presentation.slide("broken", {c.broken});
        presentation.slide("blue", {{"blue.png", 8}});
        presentation.playlist({{"red", 0}, {"broken", 0}, {"blue", 0}});
        ViewerProcess viewer;
        ASSERT_TRUE(start(viewer));
        ASSERT_TRUE(screenShows(kRed, startTimeout));
        ASSERT_TRUE(viewer.waitForStandardError(QStringLiteral("Skipping build due to failure to load"), 30s))
            << viewer.standardError().toStdString();
        EXPECT_EQ(screenNow(), kRed);
        EXPECT_TRUE(screenShows(kBlue, 30s)) << viewer.standardError().toStdString();
        EXPECT_TRUE(viewer.standardError().contains(QLatin1String(c.logged)));
    }
}

TEST_F(PlaybackTest, NothingPlayableShowsTheIdleImageAndAsksAgainEverySecond)
{
    presentation.slide("red", {{"red.png", 5}});
    presentation.playlist({{"red", 1}});
    ViewerProcess viewer;
    ASSERT_TRUE(start(viewer));
    ASSERT_TRUE(viewer.waitForStandardError(QStringLiteral("No playable builds."), startTimeout));
    QThread::sleep(4);
    EXPECT_GE(viewer.standardError().count(QStringLiteral("No playable builds.")), 3);
    EXPECT_EQ(screenNow(), kBlack);
}

TEST_F(PlaybackTest, PlaylistRewriteCutsTheCurrentBuild)
{
    presentation.slide("red", {{"red.png", 120}});
    presentation.slide("blue", {{"blue.png", 120}});
    presentation.playlist({{"red", 0}});
    ViewerProcess viewer;
    ASSERT_TRUE(start(viewer));
    ASSERT_TRUE(screenShows(kRed, startTimeout));
    presentation.playlist({{"blue", 0}});
    EXPECT_TRUE(viewer.waitForStandardError(
        QStringLiteral("Playlist was updated. Starting playing next build immediately."), 15s))
        << viewer.standardError().toStdString();
    EXPECT_TRUE(screenShows(kBlue, 15s));
}

TEST_F(PlaybackTest, BuildThatNeverGetsReadyIsSkippedAfterAMinute)
{
    presentation.endlessSlide("endless");
    presentation.slide("blue", {{"blue.png", 30}});
    presentation.playlist({{"endless", 0}, {"blue", 0}});
    ViewerProcess viewer;
    ASSERT_TRUE(start(viewer));
    ASSERT_TRUE(viewer.waitForStandardError(QStringLiteral("Received playable build: "), startTimeout));
    EXPECT_FALSE(viewer.waitForStandardError(QStringLiteral("Skipping build due to failure to load"), 50s));
    EXPECT_TRUE(viewer.waitForStandardError(QStringLiteral("Skipping build due to failure to load"), 30s))
        << viewer.standardError().toStdString();
    EXPECT_TRUE(screenShows(kBlue, 30s)) << viewer.standardError().toStdString();
}

TEST_F(PlaybackTest, BuildEndsAtTheCheckAfterItsPredicateTurnsFalse)
{
    // A window that closes at a minute boundary at least 15 s away.
    const QDateTime now = QDateTime::currentDateTime();
    QDateTime boundary = now.addSecs(60 - now.time().second());
    boundary.setTime(QTime(boundary.time().hour(), boundary.time().minute()));
    if (now.msecsTo(boundary) < 15000)
        boundary = boundary.addSecs(60);
    const QString window = QStringLiteral("time in %1..%2")
                               .arg(now.addSecs(-120).toString(QStringLiteral("HH:mm")),
                                    boundary.toString(QStringLiteral("HH:mm")));
    const int untilBoundary = presentation.addPredicate(window);
    presentation.slide("red", {{"red.png", 180}});
    presentation.slide("blue", {{"blue.png", 180}});
    presentation.playlist({{"red", untilBoundary}, {"blue", 0}});
    ViewerProcess viewer;
    ASSERT_TRUE(start(viewer));
    ASSERT_TRUE(screenShows(kRed, startTimeout)) << viewer.standardError().toStdString();
    QThread::msleep(quint64(std::max<qint64>(0, QDateTime::currentDateTime().msecsTo(boundary) - 3000)));
    EXPECT_EQ(screenNow(), kRed) << "still within its window";
    EXPECT_TRUE(screenShows(kBlue, 15s)) << viewer.standardError().toStdString();
    EXPECT_TRUE(viewer.standardError().contains(QStringLiteral("Played build:\nAsset type: Image\nAsset name: red.png\n")));
}

namespace {

// The wall-clock time of the first log line holding the text after position from, read
// from glog's prefix ("I20261211 15:26:44.990224 ..."); its position goes to at.
QDateTime loggedAt(const QString& log, const QString& text, int from = 0, int* at = nullptr)
{
    const int found = log.indexOf(text, from);
    if (at)
        *at = found;
    if (found < 0)
        return {};
    const int start = log.lastIndexOf(QLatin1Char('\n'), found) + 1;
    return QDateTime::fromString(log.mid(start + 1, 21), QStringLiteral("yyyyMMdd HH:mm:ss.zzz"));
}

} // namespace

TEST_F(PlaybackTest, VideoPlaysMovingFramesAndTheNextBuildIsPreparedFiveSecondsIn)
{
    presentation.video("clip.mp4", 12);
    presentation.slide("video", {{"clip.mp4", 10, "video"}});
    presentation.slide("blue", {{"blue.png", 10}});
    presentation.playlist({{"video", 0}, {"blue", 0}});
    ViewerProcess viewer;
    ASSERT_TRUE(startVerbose(viewer)) << viewer.errorString().toStdString();
    ASSERT_TRUE(viewer.waitForStandardError(QStringLiteral("Playing Asset clip.mp4"), startTimeout))
        << viewer.standardError().toStdString();
    QThread::msleep(1000);
    const QImage first = testsupport::grabScreen(shots.filePath(QStringLiteral("first.png")));
    QThread::msleep(700);
    const QImage second = testsupport::grabScreen(shots.filePath(QStringLiteral("second.png")));
    ASSERT_FALSE(first.isNull());
    ASSERT_FALSE(second.isNull());
    EXPECT_NE(first, second) << "the ball moves";
    EXPECT_NE(testsupport::centreColour(first), kBlack);

    ASSERT_TRUE(screenShows(kBlue, 20s)) << viewer.standardError().toStdString();
    const QString log = viewer.standardError();
    int at = 0;
    const QDateTime started = loggedAt(log, QStringLiteral("Playing Asset clip.mp4"), 0, &at);
    const QDateTime preparing = loggedAt(log, QStringLiteral("void LoadNextBuildState::startLoadingNextBuild()"), at);
    ASSERT_TRUE(started.isValid() && preparing.isValid()) << log.toStdString();
    // Asked for at the once-a-second check with 5 s or less left, then prepared at once.
    EXPECT_GE(started.msecsTo(preparing), 4000);
    EXPECT_LE(started.msecsTo(preparing), 6500);
}

TEST_F(PlaybackTest, ConsecutiveBuildsOfOneVideoKeepItPlaying)
{
    presentation.video("clip.mp4", 12);
    presentation.slide("video", {{"clip.mp4", 4, "video"}, {"clip.mp4", 4, "video"}});
    presentation.slide("red", {{"red.png", 30}});
    presentation.playlist({{"video", 0}, {"red", 0}});
    ViewerProcess viewer;
    ASSERT_TRUE(startVerbose(viewer)) << viewer.errorString().toStdString();
    ASSERT_TRUE(viewer.waitForStandardError(QStringLiteral("Stealing asset: "), startTimeout))
        << viewer.standardError().toStdString();
    ASSERT_TRUE(screenShows(kRed, 20s)) << viewer.standardError().toStdString();
    const QString log = viewer.standardError();
    // One pipeline for both builds; the second build's start does not rewind it.
    const QString untilRed = log.left(log.indexOf(QStringLiteral("Asset name: clip.mp4\nPlay counter: 1")));
    EXPECT_EQ(untilRed.count(QStringLiteral("void Player::createPipeline()")), 1) << log.toStdString();
    EXPECT_FALSE(untilRed.contains(QStringLiteral("Seeking succeeded")));
    EXPECT_EQ(log.count(QStringLiteral("Set m_fileSrc location")), 1);
}
