// Slide documents from a fixture content folder, compiled by a real QML engine, and the
// native handle that hands out their builds.
#include "guitestmain.h"
#include "slide.h"
#include "slidecompiler.h"

#include "logcapture.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QPointer>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlListReference>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <memory>
#include <set>
#include <string>
#include <vector>

using testsupport::LogCapture;

namespace {

constexpr int kTimeoutMs = 10000;

const QString kContentPath = QStringLiteral(KESTROVA_FIXTURES_DIR "/slides/content");

// Stands in for the playlist as the documents' "playlist": answers from a set of the
// predicates that hold.
class PredicateTable : public QObject {
    Q_OBJECT
public:
    std::set<QString> holding;
    Q_INVOKABLE bool evaluatePredicate(const QString& predicate) const { return holding.count(predicate) > 0; }
};

struct Compilation {
    std::vector<QString> loadedNames;
    std::vector<std::unique_ptr<QObject>> items;
    int failures = 0;
    std::vector<std::string> log;
};

class SlideTest : public ::testing::Test {
protected:
    SlideTest()
    {
        engine.addImportPath(QStringLiteral("qrc:///"));
        engine.rootContext()->setContextProperty(QStringLiteral("playlist"), &predicates);
    }

    Compilation compileAt(const QString& contentPath, const QString& name)
    {
        Compilation result;
        LogCapture capture;
        SlideCompiler compiler(engine);
        QObject::connect(&compiler, &SlideCompiler::slideLoaded, [&](const QString& slideName, QObject* item) {
            result.loadedNames.push_back(slideName);
            result.items.emplace_back(item);
        });
        QObject::connect(&compiler, &SlideCompiler::failedToLoadSlide, [&] { ++result.failures; });
        compiler.load(contentPath, name);
        const bool answered =
            QTest::qWaitFor([&] { return !result.loadedNames.empty() || result.failures > 0; }, kTimeoutMs);
        EXPECT_TRUE(answered) << "no answer for " << name.toStdString();
        // Whatever else is already queued would come now.
        QCoreApplication::processEvents();
        result.log = capture.summary();
        return result;
    }

    // The root object of a slide document that must compile.
    QObject* compile(const QString& name)
    {
        Compilation result = compileAt(kContentPath, name);
        if (result.items.size() != 1) {
            ADD_FAILURE() << name.toStdString() << " did not compile";
            return nullptr;
        }
        return result.items.front().release();
    }

    static QObject* buildAt(Slide& slide, int position)
    {
        QQmlListReference builds(slide.item(), "builds");
        return builds.at(position);
    }

    PredicateTable predicates;
    QQmlEngine engine;
};

TEST_F(SlideTest, CompilesFromTheSlidesFolderOfTheContent)
{
    const std::string function = "I:void SlideCompiler::statusChanged(QQmlComponent::Status)";
    struct Case {
        const char* name;
        QString contentPath;
        QString slide;
        bool loads;
        std::string logStart; // the one log line: all of it, or its start when logMentions is set
        std::string logMentions;
    };
    const Case cases[] = {
        {"good slide", kContentPath, "news", true, "I:Slide news is loaded", ""},
        {"content path with a trailing slash", kContentPath + "/", "pair", true, "I:Slide pair is loaded", ""},
        {"missing file", kContentPath, "absent", false, "I:Slide file not found", ""},
        {"only the slides folder counts", kContentPath + "/slides", "news", false, "I:Slide file not found", ""},
        {"syntax error", kContentPath, "broken", false, function + " Cant load component: ", "broken.qml"},
        {"creation fails", kContentPath, "uncreatable", false, function + " Cant create slide item: ",
         "uncreatable.qml"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Compilation result = compileAt(c.contentPath, c.slide);
        EXPECT_EQ(result.loadedNames.size() + size_t(result.failures), 1u) << "exactly one answer";
        ASSERT_EQ(result.log.size(), 1u);
        if (c.logMentions.empty()) {
            EXPECT_EQ(result.log[0], c.logStart);
        } else {
            // The engine's errors follow.
            EXPECT_EQ(result.log[0].substr(0, c.logStart.size()), c.logStart);
            EXPECT_NE(result.log[0].find(c.logMentions, c.logStart.size()), std::string::npos) << result.log[0];
        }
        if (!c.loads) {
            EXPECT_EQ(result.failures, 1);
            continue;
        }
        ASSERT_EQ(result.loadedNames.size(), 1u);
        EXPECT_EQ(result.loadedNames[0], c.slide);
        ASSERT_NE(result.items[0], nullptr);
        const QUrl expected = QUrl::fromLocalFile(QDir(kContentPath).filePath("slides/" + c.slide + ".qml"));
        EXPECT_EQ(qmlContext(result.items[0].get())->baseUrl(), expected);
    }
}

TEST_F(SlideTest, PredicateIndexesRepeatOverTheBuilds)
{
    struct Case {
        const char* name;
        std::vector<int> indexes;
        std::vector<QString> predicates;
    };
    const Case cases[] = {
        {"one index for all", {4}, {"4", "4", "4"}},
        {"two indexes alternate", {1, 2}, {"1", "2", "1"}},
        {"none keeps the document's", {}, {"NULL", "NULL", "NULL"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Slide slide(QStringLiteral("news"), c.indexes);
        EXPECT_FALSE(slide.isLoaded());
        slide.setQmlItem(compile(QStringLiteral("news")));
        ASSERT_NE(slide.item(), nullptr);
        EXPECT_TRUE(slide.isLoaded());
        EXPECT_EQ(slide.remainingBuildCount(), 3);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(buildAt(slide, i)->property("predicate").toString(), c.predicates[i]) << "build " << i;
    }
}

// Builds come out in order, the ones whose predicate does not hold passed over, each
// carrying its handle; after the last one there is none until a restart.
TEST_F(SlideTest, HandsOutPlayableBuildsInOrder)
{
    predicates.holding = {"3"};
    struct Case {
        const char* name;
        std::vector<int> indexes;
        std::vector<int> handedOut; // build positions
    };
    const Case cases[] = {
        {"only the middle one plays", {7, 3, 7}, {1}},
        {"all play", {3}, {0, 1, 2}},
        {"the first two play", {3, 3, 7}, {0, 1}},
        {"none plays", {7}, {}},
        {"no indexes, nothing plays", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Slide slide(QStringLiteral("news"), c.indexes);
        slide.setQmlItem(compile(QStringLiteral("news")));
        ASSERT_NE(slide.item(), nullptr);
        EXPECT_EQ(slide.isPlayable(), !c.handedOut.empty());
        for (int pass = 0; pass < 2; ++pass) {
            SCOPED_TRACE(pass == 0 ? "first pass" : "after restart");
            for (int position : c.handedOut) {
                QObject* build = slide.advanceToAndGetNextBuild();
                ASSERT_EQ(build, buildAt(slide, position)) << "build " << position;
                EXPECT_EQ(build->property("parentSlide").value<Slide*>(), &slide);
            }
            EXPECT_EQ(slide.advanceToAndGetNextBuild(), nullptr);
            EXPECT_EQ(slide.advanceToAndGetNextBuild(), nullptr) << "passed-over builds stay passed over";
            slide.restart();
        }
    }
}

TEST_F(SlideTest, NotLoadedIsNotPlayable)
{
    predicates.holding = {"3"};
    Slide slide(QStringLiteral("news"), {3});
    slide.loadState = 1;
    EXPECT_FALSE(slide.isPlayable());
    EXPECT_EQ(slide.advanceToAndGetNextBuild(), nullptr);
    EXPECT_TRUE(slide.noBuildsInUse());
}

// Documents whose root is not a slide: calls fail or answer nonsense, and nothing plays.
TEST_F(SlideTest, DocumentsThatAreNotSlidesHandOutNothing)
{
    struct Case {
        const char* name;
        const char* document;
        bool playable; // what the document itself claims
        int builds;
    };
    const Case cases[] = {
        {"no functions at all", "plain", false, 0},
        {"a number where a build belongs", "odd", true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Slide slide(QString::fromLatin1(c.document), {3});
        slide.setQmlItem(compile(QString::fromLatin1(c.document)));
        ASSERT_NE(slide.item(), nullptr);
        EXPECT_EQ(slide.isPlayable(), c.playable);
        EXPECT_EQ(slide.remainingBuildCount(), c.builds);
        EXPECT_EQ(slide.advanceToAndGetNextBuild(), nullptr);
        EXPECT_TRUE(slide.noBuildsInUse());
    }
}

TEST_F(SlideTest, DebugNamesCarryTheSlidePosition)
{
    Slide slide(QStringLiteral("news"), {});
    slide.setQmlItem(compile(QStringLiteral("news")));
    ASSERT_NE(slide.item(), nullptr);
    slide.setDebugNames(3);
    EXPECT_EQ(slide.item()->property("debugName").toString(), QStringLiteral("Slide news"));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(buildAt(slide, i)->property("debugName").toString(), QStringLiteral("Build 3:%1").arg(i));
}

TEST_F(SlideTest, ReleasingBuilds)
{
    predicates.holding = {"4"};
    Slide slide(QStringLiteral("pair"), {4});
    slide.setQmlItem(compile(QStringLiteral("pair")));
    ASSERT_NE(slide.item(), nullptr);
    ASSERT_EQ(slide.remainingBuildCount(), 2);
    EXPECT_TRUE(slide.noBuildsInUse()) << "nothing handed out yet";

    QObject* first = slide.advanceToAndGetNextBuild();
    QObject* second = slide.advanceToAndGetNextBuild();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(slide.noBuildsInUse());

    LogCapture capture;
    slide.markBuildNotUsed(first);
    EXPECT_TRUE(capture.summary().empty());
    EXPECT_EQ(slide.remainingBuildCount(), 1);
    EXPECT_FALSE(slide.noBuildsInUse()) << "the second build is still in use";

    slide.markBuildNotUsed(first);
    EXPECT_EQ(capture.summary(), std::vector<std::string>{"W:Build is not used already."});
    EXPECT_EQ(slide.remainingBuildCount(), 1) << "a second release of one build does not count";
    EXPECT_FALSE(slide.noBuildsInUse());

    capture.clear();
    slide.markBuildNotUsed(second);
    EXPECT_TRUE(capture.summary().empty());
    EXPECT_EQ(slide.remainingBuildCount(), 0);
    EXPECT_TRUE(slide.noBuildsInUse());
}

// A slide some of whose builds were passed over is free to go once the ones handed out
// are back, though those passed over were never released.
TEST_F(SlideTest, SlideWithPassedOverBuildsIsFreeOnceHandedOutBuildsAreBack)
{
    predicates.holding = {"3"};
    Slide slide(QStringLiteral("news"), {7, 3, 7});
    slide.setQmlItem(compile(QStringLiteral("news")));
    ASSERT_NE(slide.item(), nullptr);

    QObject* build = slide.advanceToAndGetNextBuild();
    ASSERT_NE(build, nullptr);
    ASSERT_EQ(slide.advanceToAndGetNextBuild(), nullptr);
    EXPECT_FALSE(slide.noBuildsInUse());

    slide.markBuildNotUsed(build);
    EXPECT_EQ(slide.remainingBuildCount(), 2);
    EXPECT_TRUE(slide.noBuildsInUse());
}

// The item outlives the handle until the event loop deletes it; a build still out then
// no longer names the handle.
TEST_F(SlideTest, ItemIsDeletedThroughTheEventLoop)
{
    predicates.holding = {"3"};
    QPointer<QObject> item;
    QPointer<QObject> build;
    {
        Slide slide(QStringLiteral("news"), {3});
        slide.setQmlItem(compile(QStringLiteral("news")));
        item = slide.item();
        ASSERT_FALSE(item.isNull());
        build = slide.advanceToAndGetNextBuild();
        ASSERT_FALSE(build.isNull());
    }
    ASSERT_FALSE(item.isNull());
    ASSERT_FALSE(build.isNull());
    EXPECT_FALSE(build->property("parentSlide").isValid());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(item.isNull());
    EXPECT_TRUE(build.isNull());
}

} // namespace

int main(int argc, char** argv)
{
    return testsupport::runGuiTests(argc, argv, [] { Slide::registerMetaType(); });
}

#include "slide_test.moc"
