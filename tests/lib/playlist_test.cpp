// The playlist's search machine driven through the real QML engine: slide documents from
// content folders written by the test, predicates compiled by the schedule tool's compiler.
#include "playlist.h"
#include "playliststate.h"

#include "logcapture.h"
#include "predicatecompiler.h"
#include "predicateparser.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlContext>
#include <QQmlEngine>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using testsupport::LogCapture;
using testsupport::Verbosity;

namespace {

QString compileDefinition(const QString& expression)
{
    predicate::PredicateParser parser(expression);
    const auto expr = parser.parse();
    if (!expr)
        return {};
    predicate::PredicateCompiler compiler;
    const auto body = compiler.compile(*expr);
    return body ? predicate::PredicateCompiler::definition(predicate::PredicateCompiler::container(*body)) : QString();
}

// Registry entry 0 always holds, entry 1 never does.
const QStringList kRegistry = {compileDefinition("always"), compileDefinition("never")};
constexpr int kAlways = 0;
constexpr int kNever = 1;

// Counts slide documents alive in the engine.
class SlideCounter : public QObject {
    Q_OBJECT
    Q_PROPERTY(int live MEMBER live)
public:
    int live = 0;
};

// A slide document whose builds carry the given kind, one Build per entry.
QByteArray slideDocument(const QString& kind, int builds)
{
    QByteArray text = "import QtQuick 2.2\nimport Kestrova 1.0\nSlide {\n"
                      "    Component.onCompleted: slideCounter.live += 1\n"
                      "    Component.onDestruction: slideCounter.live -= 1\n"
                      "    builds: [\n";
    for (int i = 0; i < builds; ++i)
        text += "        Build { kind: \"" + kind.toUtf8() + "\" }" + (i + 1 < builds ? ",\n" : "\n");
    text += "    ]\n}\n";
    return text;
}

struct SlideSpec {
    QString name;
    QList<int> predicates;
};

class Content {
public:
    Content() { QDir(m_dir.path()).mkpath(QStringLiteral("slides")); }
    QString path() const { return m_dir.path(); }

    void writePlaylist(const QList<SlideSpec>& slides, const QStringList& registry = kRegistry)
    {
        QJsonArray list;
        for (const SlideSpec& slide : slides) {
            QJsonArray indexes;
            for (const int index : slide.predicates)
                indexes.append(index);
            list.append(QJsonObject{{"name", slide.name}, {"predicates", indexes}});
        }
        write(QStringLiteral("playlist.json"),
              QJsonDocument(QJsonObject{{"predicates", QJsonArray::fromStringList(registry)},
                                        {"slides", list},
                                        {"metadata", QJsonObject{{"hostname", "test"}}}})
                  .toJson());
    }
    void writeSlide(const QString& name, const QByteArray& document) { write("slides/" + name + ".qml", document); }

private:
    void write(const QString& relative, const QByteArray& bytes)
    {
        QFile file(m_dir.filePath(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    QTemporaryDir m_dir;
};

// A playlist on its own engine, asked for builds the way playback asks.
class Harness {
public:
    explicit Harness(const QString& contentPath)
    {
        engine.addImportPath(QStringLiteral("qrc:///"));
        engine.rootContext()->setContextProperty(QStringLiteral("slideCounter"), &counter);
        playlist = std::make_unique<Playlist>(contentPath, engine);
        engine.rootContext()->setContextProperty(QStringLiteral("playlist"), playlist.get());
        ready = std::make_unique<QSignalSpy>(playlist.get(), &Playlist::nextPlayableBuildIsReady);
        none = std::make_unique<QSignalSpy>(playlist.get(), &Playlist::noPlayableBuilds);
        updated = std::make_unique<QSignalSpy>(playlist.get(), &Playlist::updated);
    }
    ~Harness()
    {
        playlist.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Requests the next build and waits for the answer: "<kind> <debugName>", or "none".
    // The build is released at once, as playback does once it has left the screen.
    QString next()
    {
        const int builds = ready->count();
        const int answers = builds + none->count();
        playlist->prepareNextPlayableBuild();
        if (!QTest::qWaitFor([&] { return ready->count() + none->count() > answers; }, 30000))
            return QStringLiteral("no answer");
        if (ready->count() + none->count() > answers + 1)
            return QStringLiteral("two answers");
        if (ready->count() == builds)
            return QStringLiteral("none");
        QObject* build = ready->last().at(0).value<QObject*>();
        const QString answer = build->property("kind").toString() + " " + build->property("debugName").toString();
        playlist->markBuildNotUsedAnymore(build);
        return answer;
    }

    QQmlEngine engine;
    SlideCounter counter;
    std::unique_ptr<Playlist> playlist;
    std::unique_ptr<QSignalSpy> ready;
    std::unique_ptr<QSignalSpy> none;
    std::unique_ptr<QSignalSpy> updated;
};

std::vector<std::string> stateEntries(const LogCapture& log)
{
    std::vector<std::string> result;
    for (const auto& line : log.lines()) {
        const std::string& m = line.message;
        // READY logs only some of its entries (it polls five times a second).
        if (m.rfind("[Playlist] Entered ", 0) == 0 && m != "[Playlist] Entered READY state.")
            result.push_back(m.substr(19, m.size() - 19));
        else if (m == "Finished")
            result.push_back(m);
    }
    return result;
}

std::vector<std::string> messagesStartingWith(const LogCapture& log, const std::string& prefix)
{
    std::vector<std::string> result;
    for (const auto& line : log.lines())
        if (line.message.rfind(prefix, 0) == 0)
            result.push_back(line.message.substr(prefix.size()));
    return result;
}

} // namespace

TEST(PlaylistMachine, EmptyPlaylistRunsOneSearchToNoPlayableBuilds)
{
    Content content;
    content.writePlaylist({});
    Harness harness(content.path());
    Verbosity verbose(2);
    LogCapture log;
    EXPECT_EQ(harness.next(), "none");
    QTest::qWait(600);
    EXPECT_EQ(harness.none->count(), 1);
    EXPECT_EQ(harness.ready->count(), 0);
    const std::vector<std::string> expected = {
        "FIND_NEXT_PLAYABLE_BUILD state.", "LOAD_NEXT_SLIDE state.", "CHECK_IF_SLIDE_IS_PLAYABLE state.",
        "NO_PLAYABLE_BUILDS state.", "FINISHED state", "Finished"};
    auto entries = stateEntries(log);
    ASSERT_GE(entries.size(), expected.size());
    entries.resize(expected.size());
    EXPECT_EQ(entries, expected);
    // Back in READY: the next request gets its own single answer.
    EXPECT_EQ(harness.next(), "none");
    EXPECT_EQ(harness.none->count(), 2);
}

TEST(PlaylistMachine, HandsOutPlayableBuildsAndSkipsUnplayableSlides)
{
    Content content;
    content.writePlaylist({{"a", {kAlways}}, {"b", {kNever}}});
    content.writeSlide("a", slideDocument("A", 2));
    content.writeSlide("b", slideDocument("B", 1));
    Harness harness(content.path());
    Verbosity verbose(2);
    LogCapture log;
    EXPECT_EQ(harness.next(), "A Build 0:0");
    EXPECT_EQ(harness.next(), "A Build 0:1");
    // A is exhausted, B is compiled and found not playable, A is compiled again.
    EXPECT_EQ(harness.next(), "A Build 0:0");
    EXPECT_EQ(harness.none->count(), 0);
    EXPECT_EQ(messagesStartingWith(log, "[Playlist] Loaded slide: "), (std::vector<std::string>{"a 0 ", "b 1 ", "a 0 "}));
    EXPECT_EQ(log.messages(google::GLOG_WARNING), std::vector<std::string>{"Current slide is already in use"});
    EXPECT_FALSE(messagesStartingWith(log, "[Playlist] Playable build is ready. Emitting the result").empty());
    EXPECT_FALSE(messagesStartingWith(log, "[Playlist] Entered FIND_NEXT_PLAYABLE_BUILD state.").empty());
}

TEST(PlaylistMachine, NothingPlayableEndsAfterOneFullCycle)
{
    Content content;
    content.writePlaylist({{"a", {kNever}}, {"b", {kNever}}});
    content.writeSlide("a", slideDocument("A", 1));
    content.writeSlide("b", slideDocument("B", 2));
    Harness harness(content.path());
    LogCapture log;
    EXPECT_EQ(harness.next(), "none");
    EXPECT_EQ(messagesStartingWith(log, "[Playlist] Loaded slide: "), (std::vector<std::string>{"a 1 ", "b 1 ", "a 1 "}));
    EXPECT_EQ(harness.next(), "none") << "the mark was cleared; the next search cycles again";
}

TEST(PlaylistMachine, MissingSlideFileCountsAsNotPlayable)
{
    Content content;
    content.writePlaylist({{"ghost", {kAlways}}});
    Harness harness(content.path());
    LogCapture log;
    EXPECT_EQ(harness.next(), "none");
    EXPECT_FALSE(messagesStartingWith(log, "Slide file not found").empty());
}

TEST(PlaylistMachine, TwoQuickRequestsGetOneAnswer)
{
    Content content;
    content.writePlaylist({{"a", {kAlways}}});
    content.writeSlide("a", slideDocument("A", 3));
    Harness harness(content.path());
    harness.playlist->prepareNextPlayableBuild();
    harness.playlist->prepareNextPlayableBuild();
    ASSERT_TRUE(harness.ready->wait(30000));
    QTest::qWait(1000);
    EXPECT_EQ(harness.ready->count(), 1);
    EXPECT_EQ(harness.none->count(), 0);
}

TEST(PlaylistMachine, ReloadWhileASlideCompilesDropsItsResult)
{
    Content content;
    content.writePlaylist({{"a", {kAlways}}});
    content.writeSlide("a", slideDocument("A", 1));
    content.writeSlide("c", slideDocument("C", 1));
    Harness harness(content.path());
    auto* load = harness.playlist->findChild<QState*>(QStringLiteral("LOAD_NEXT_SLIDE"));
    ASSERT_NE(load, nullptr);
    bool reloaded = false;
    // Right after compilation of the first slide has started, the file changes.
    QObject::connect(load, &QState::entered, harness.playlist.get(), [&] {
        if (reloaded)
            return;
        reloaded = true;
        content.writePlaylist({{"c", {kAlways}}});
        harness.playlist->update();
    });
    LogCapture log;
    EXPECT_EQ(harness.next(), "C Build 0:0");
    EXPECT_TRUE(reloaded);
    EXPECT_FALSE(messagesStartingWith(log, "Current slide changed while it was compiling").empty());
    EXPECT_GE(harness.updated->count(), 1);
}

TEST(PlaylistMachine, InvalidReloadIsIgnoredAndTheSearchGoesOn)
{
    Content content;
    content.writePlaylist({{"a", {kAlways}}});
    content.writeSlide("a", slideDocument("A", 2));
    Harness harness(content.path());
    EXPECT_EQ(harness.next(), "A Build 0:0");
    LogCapture log;
    content.writePlaylist({{"a", {kAlways, 7}}}); // index 7 is outside the registry
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !messagesStartingWith(log, "[Playlist] Playlist is invalid. Ignoring it.").empty(); }, 30000));
    EXPECT_EQ(harness.updated->count(), 0);
    EXPECT_EQ(harness.next(), "A Build 0:1");
}

TEST(PlaylistMachine, WatchedFileChangesReloadAndRemovalEmpties)
{
    Content content;
    content.writePlaylist({{"a", {kAlways}}});
    content.writeSlide("a", slideDocument("A", 1));
    content.writeSlide("b", slideDocument("B", 1));
    Harness harness(content.path());
    QSignalSpy metadata(harness.playlist.get(), &Playlist::metadataChanged);
    EXPECT_EQ(harness.next(), "A Build 0:0");

    content.writePlaylist({{"b", {kAlways}}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return harness.updated->count() >= 1; }, 30000));
    EXPECT_EQ(metadata.count(), harness.updated->count());
    EXPECT_EQ(harness.playlist->kestrovaMetadata().hostname(), "test");
    EXPECT_EQ(harness.next(), "B Build 0:0");
    EXPECT_EQ(metadata.last().at(0).value<KestrovaMetadata>().hostname(), "test");

    const int before = harness.updated->count();
    ASSERT_TRUE(QFile::remove(QDir(content.path()).filePath("playlist.json")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return harness.updated->count() > before; }, 30000));
    EXPECT_TRUE(harness.playlist->slides().empty());
    EXPECT_TRUE(harness.playlist->kestrovaMetadata().isEmpty());
    EXPECT_EQ(harness.next(), "none");
}

// Slides of which some builds are never handed out must still be freed once their
// handed-out builds are released, or every pass through the playlist keeps one more.
TEST(PlaylistMachine, ManyPassesKeepMemoryBounded)
{
    Content content;
    content.writePlaylist({{"a", {kAlways, kNever, kNever}}, {"b", {kNever, kAlways}}});
    content.writeSlide("a", slideDocument("A", 3));
    content.writeSlide("b", slideDocument("B", 2));
    Harness harness(content.path());
    for (int pass = 0; pass < 15; ++pass) {
        SCOPED_TRACE(pass);
        ASSERT_EQ(harness.next(), "A Build 0:0");
        ASSERT_EQ(harness.next(), "B Build 1:1");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_LE(harness.playlist->getDeleteQueue().size(), 2u);
        EXPECT_LE(harness.counter.live, 3);
    }
}

TEST(Playlist, HasOneIdenticalBuild)
{
    const struct {
        const char* name;
        QList<SlideSpec> slides;
        bool expected;
    } cases[] = {
        {"two of the same", {{"x", {}}, {"x", {}}}, true},
        {"one", {{"x", {}}}, false},
        {"two different", {{"x", {}}, {"y", {}}}, false},
        {"three of the same", {{"x", {}}, {"x", {}}, {"x", {}}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Content content;
        content.writePlaylist(c.slides);
        Harness harness(content.path());
        EXPECT_EQ(harness.playlist->hasOneIdenticalBuild(), c.expected);
    }
}

TEST(Playlist, LoadingLogsAndDiagnostics)
{
    Content content;
    LogCapture log;
    content.writePlaylist({{"intro", {0, 1}}, {"news", {}}});
    Harness harness(content.path());
    EXPECT_EQ(messagesStartingWith(log, "[Playlist] Playlist has "), std::vector<std::string>{"2 slides and 2 predicates."});

    log.clear();
    harness.playlist->dumpPlaylistToLogs();
    EXPECT_EQ(log.summary(), (std::vector<std::string>{"I:intro predicates=[0 1 ]", "I:news predicates=[]"}));

    log.clear();
    QObject orphan;
    harness.playlist->markBuildNotUsedAnymore(nullptr);
    harness.playlist->markBuildNotUsedAnymore(&orphan);
    EXPECT_EQ(log.summary(), std::vector<std::string>{"W:Parent slide can't be nullptr."});
}

TEST(Playlist, InvalidFileAtStartUpGivesAnEmptyPlaylistButKeepsTheMetadata)
{
    Content content;
    content.writePlaylist({{"a", {5}}});
    LogCapture log;
    Harness harness(content.path());
    EXPECT_TRUE(harness.playlist->slides().empty());
    EXPECT_TRUE(harness.playlist->predicates().empty());
    EXPECT_EQ(harness.playlist->kestrovaMetadata().hostname(), "test");
    EXPECT_EQ(log.messages(google::GLOG_WARNING),
              std::vector<std::string>{"Slide a is invalid due to an out of bounds predicate index: 5"});
}

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "playlist_test.moc"
