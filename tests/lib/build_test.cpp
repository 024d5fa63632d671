// The playback handles on real QML objects: builds, layers and assets of the Kestrova
// module and the viewer's BuildSurface.qml, created by a real engine from small documents.
#include "guitestmain.h"
#include "build.h"
#include "timeline.h"

#include "logcapture.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

using testsupport::LogCapture;

namespace {

// The documents' "playlist": the predicates that hold.
class PredicateTable : public QObject {
    Q_OBJECT
public:
    QSet<QString> holding;
    Q_INVOKABLE bool evaluatePredicate(const QString& predicate) const { return holding.contains(predicate); }
};

const char kBuildWithAsset[] = R"(
import QtQuick 2.2
import Kestrova 1.0
Build {
    predicate: "4"
    layer: Layer {
        asset: Asset { tag: "clip"; kind: "video"; name: "Harbour clip"; source: "file:///content/harbour.mp4" }
    }
}
)";

const char kBuildWithoutAsset[] = R"(
import QtQuick 2.2
import Kestrova 1.0
Build { layer: Layer { Layer { asset: Asset { kind: "video" } } } }
)";

const char kBuildWithoutLayer[] = R"(
import QtQuick 2.2
import Kestrova 1.0
Build {}
)";

const char kIdleImage[] = R"(
import QtQuick 2.2
Image { visible: false }
)";

std::string text(AssetType type)
{
    std::ostringstream stream;
    stream << type;
    return stream.str();
}

class HandlesTest : public ::testing::Test {
protected:
    HandlesTest()
    {
        engine.addImportPath(QStringLiteral("qrc:///"));
        engine.rootContext()->setContextProperty(QStringLiteral("playlist"), &predicates);
        engine.rootContext()->setContextProperty(QStringLiteral("timeline"), &timeline);
    }

    QObject* create(const char* document)
    {
        QQmlComponent component(&engine);
        component.setData(document, QUrl(QStringLiteral("qrc:/build_test/inline.qml")));
        return keep(component.create(), component);
    }

    QObject* createBuildSurface()
    {
        QQmlComponent component(&engine, QUrl(QStringLiteral("qrc:/qml/BuildSurface.qml")));
        return keep(component.create(), component);
    }

    static QObject* assetOf(QObject* build)
    {
        return build->property("layer").value<QObject*>()->property("asset").value<QObject*>();
    }

    PredicateTable predicates;
    Timeline timeline;
    QQmlEngine engine;

private:
    QObject* keep(QObject* object, const QQmlComponent& component)
    {
        EXPECT_NE(object, nullptr) << component.errorString().toStdString();
        objects.emplace_back(object);
        return object;
    }

    std::vector<std::unique_ptr<QObject>> objects;
};

TEST(AssetTypeTest, KindTextsAndNames)
{
    struct Case {
        const char* kind;
        AssetType type;
        const char* name;
    };
    const Case cases[] = {
        {"animated-image", AssetType::AnimatedImage, "AnimatedImage"},
        {"image", AssetType::Image, "Image"},
        {"video", AssetType::Video, "Video"},
        {"web", AssetType::Web, "Web"},
        {"screenshot", AssetType::Screenshot, "Screenshot"},
        {"audio", AssetType::Audio, "Audio"},
        {"edge-app", AssetType::EdgeApp, "EdgeApp"},
        {"intro", AssetType::Intro, "Intro"},
        {"flash", AssetType::Unknown, "Unknown"},
        {"Video", AssetType::Unknown, "Unknown"},
        {"", AssetType::Unknown, "Unknown"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        EXPECT_EQ(assetTypeFromKind(QString::fromLatin1(c.kind)), c.type);
        EXPECT_EQ(text(c.type), c.name);
    }
    EXPECT_EQ(text(static_cast<AssetType>(9)), "Unknown");
    EXPECT_EQ(text(static_cast<AssetType>(-1)), "Unknown");
}

TEST_F(HandlesTest, AssetTypeFollowsTheRootAssetKind)
{
    QObject* object = create(kBuildWithAsset);
    const Build build(object, 0);
    for (const char* kind : {"animated-image", "image", "video", "web", "screenshot", "audio", "edge-app", "intro",
                             "flash"}) {
        SCOPED_TRACE(kind);
        assetOf(object)->setProperty("kind", QString::fromLatin1(kind));
        EXPECT_EQ(build.assetType(), assetTypeFromKind(QString::fromLatin1(kind)));
    }
}

TEST_F(HandlesTest, AssetNameAndSource)
{
    const Build build(create(kBuildWithAsset), 0);
    LogCapture capture;
    EXPECT_EQ(build.assetName(), QStringLiteral("Harbour clip"));
    EXPECT_EQ(build.buildSource(), QStringLiteral("file:///content/harbour.mp4"));
    EXPECT_TRUE(capture.lines().empty());
}

TEST_F(HandlesTest, MissingLinksAreErrors)
{
    struct Case {
        const char* name;
        QObject* object;
        std::string missing; // what the error texts end with
    };
    const Case cases[] = {
        {"empty handle", nullptr, "No build to get "},
        {"build without layer", create(kBuildWithoutLayer), "Build has no layer to get "},
        {"layer without asset", create(kBuildWithoutAsset), "Layer has no asset to get "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Build build(c.object, 3);
        LogCapture capture;
        EXPECT_EQ(build.assetType(), AssetType::Unknown);
        EXPECT_EQ(build.assetName(), QString());
        EXPECT_EQ(build.buildSource(), QString());
        const std::vector<std::string> expected = {
            c.missing + "asset type from",
            c.missing + "asset type from",
            c.missing + "source from",
        };
        EXPECT_EQ(capture.messages(google::GLOG_ERROR), expected);
        EXPECT_EQ(capture.lines().size(), expected.size());
    }
}

TEST_F(HandlesTest, DurationUntilPreload)
{
    QObject* object = create(kBuildWithAsset);
    const Build build(object, 0);
    struct Case {
        const char* kind;
        qint64 at20s;
    };
    const Case cases[] = {
        {"image", 0},         {"animated-image", 0}, {"screenshot", 0},     {"intro", 0},
        {"web", 15000},       {"audio", 15000},      {"edge-app", 15000},   {"flash", 15000},
        {"video", 5000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        assetOf(object)->setProperty("kind", QString::fromLatin1(c.kind));
        EXPECT_EQ(build.durationUntilPreload(4999), 0);
        EXPECT_EQ(build.durationUntilPreload(20000), c.at20s);
    }
    EXPECT_EQ(Build().durationUntilPreload(20000), 0);
    EXPECT_EQ(Build().durationUntilPreload(4999), 0);
}

TEST_F(HandlesTest, RootLayerWithoutAssetPreloadsFiveSecondsBeforeTheEnd)
{
    const Build build(create(kBuildWithoutAsset), 1);
    LogCapture capture;
    EXPECT_EQ(build.durationUntilPreload(20000), 15000);
    EXPECT_EQ(capture.summary(), std::vector<std::string>{"E:Layer has no asset to get asset type from"});
}

TEST_F(HandlesTest, UniqueName)
{
    EXPECT_EQ(Build().getUniqueName(), QStringLiteral("Build: 0x0000000000000000 -1"));
    QObject* first = create(kBuildWithAsset);
    QObject* second = create(kBuildWithAsset);
    const QString name = Build(first, 12).getUniqueName();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Build: 0x[0-9a-f]{16} 12$")).match(name).hasMatch())
        << name.toStdString();
    EXPECT_EQ(name.mid(9, 16).toULongLong(nullptr, 16), reinterpret_cast<quintptr>(first));
    EXPECT_NE(Build(second, 12).getUniqueName(), name);
}

TEST_F(HandlesTest, IsPlayableAsksThePlaylist)
{
    const Build build(create(kBuildWithAsset), 0);
    EXPECT_FALSE(build.isPlayable());
    predicates.holding.insert(QStringLiteral("4"));
    EXPECT_TRUE(build.isPlayable());
    EXPECT_FALSE(Build(create(kBuildWithoutLayer), 0).isPlayable()) << "predicate NULL";
    EXPECT_FALSE(Build().isPlayable());
}

TEST(BuildSurfaceTest, TextForms)
{
    struct Case {
        const char* text;
        BuildSurface::LoadStatus status;
        std::vector<std::string> log;
    };
    const Case statuses[] = {
        {"00 Null", BuildSurface::Null, {}},
        {"01 Loading", BuildSurface::Loading, {}},
        {"02 Error", BuildSurface::Error, {}},
        {"03 Ready", BuildSurface::Ready, {}},
        // The layers' own texts are a different set.
        {"01 Ready", BuildSurface::Null, {"I:Unknown status: 01 Ready"}},
        {"", BuildSurface::Null, {"I:Unknown status: "}},
    };
    for (const auto& c : statuses) {
        SCOPED_TRACE(c.text);
        LogCapture capture;
        EXPECT_EQ(BuildSurface::loadStatusFromString(QString::fromLatin1(c.text)), c.status);
        EXPECT_EQ(capture.summary(), c.log);
    }

    struct StateCase {
        const char* text;
        BuildSurface::State state;
        std::vector<std::string> log;
    };
    const StateCase states[] = {
        {"PLAYING", BuildSurface::Playing, {}},
        {"STOPPED", BuildSurface::Stopped, {}},
        {"playing", BuildSurface::Stopped, {"I:Unknown state: playing"}},
    };
    for (const auto& c : states) {
        SCOPED_TRACE(c.text);
        LogCapture capture;
        EXPECT_EQ(BuildSurface::stateFromString(QString::fromLatin1(c.text)), c.state);
        EXPECT_EQ(capture.summary(), c.log);
    }
}

TEST_F(HandlesTest, BuildSurfaceState)
{
    QObject* item = createBuildSurface();
    const BuildSurface surface(item);
    EXPECT_EQ(surface.state(), BuildSurface::Stopped);
    item->setProperty("state", QStringLiteral("PLAYING"));
    EXPECT_EQ(surface.state(), BuildSurface::Playing);

    item->setProperty("state", QStringLiteral("PAUSED"));
    LogCapture capture;
    EXPECT_EQ(surface.state(), BuildSurface::Stopped);
    EXPECT_EQ(capture.summary(), std::vector<std::string>{"I:Unknown state: PAUSED"});
}

TEST_F(HandlesTest, BuildSurfaceRemainingDuration)
{
    QObject* item = createBuildSurface();
    QObject* build = create(kBuildWithAsset);
    item->setProperty("build", QVariant::fromValue(build));
    const BuildSurface surface(item);

    build->setProperty("duration", 60.0);
    item->setProperty("startedAt", double(timeline.timestamp()));
    EXPECT_EQ(surface.remainingDuration(), 0) << "not playing";

    item->setProperty("state", QStringLiteral("PLAYING"));
    const qint64 remaining = surface.remainingDuration();
    EXPECT_GT(remaining, 0);
    EXPECT_LE(remaining, 60000);

    // Overrun: the surface says -50 s or so, the handle 0.
    item->setProperty("startedAt", double(timeline.timestamp() - 110000));
    EXPECT_EQ(surface.remainingDuration(), 0);

    EXPECT_EQ(BuildSurface().remainingDuration(), 0);
}

TEST_F(HandlesTest, BuildSurfaceStopAndDeactivate)
{
    QObject* item = createBuildSurface();
    QObject* build = create(kBuildWithAsset);
    item->setProperty("build", QVariant::fromValue(build));
    QObject* layer = build->property("layer").value<QObject*>();
    const BuildSurface surface(item);

    item->setProperty("state", QStringLiteral("PLAYING"));
    surface.stop();
    EXPECT_EQ(surface.state(), BuildSurface::Stopped);

    item->setProperty("state", QStringLiteral("PLAYING"));
    surface.deactivate();
    EXPECT_EQ(surface.state(), BuildSurface::Stopped);
    EXPECT_EQ(layer->property("status").toString(), QStringLiteral("00 Null")) << "layers deactivated";

    LogCapture capture;
    const BuildSurface empty;
    empty.deactivate();
    empty.stop();
    EXPECT_EQ(empty.state(), BuildSurface::Stopped);
    const std::vector<std::string> expected = {"W:Trying to deactivate empty BuildSurface",
                                               "W:Trying to stop empty BuildSurface"};
    EXPECT_EQ(capture.summary(), expected);
}

TEST_F(HandlesTest, IdleImageVisibility)
{
    QObject* image = create(kIdleImage);
    const IdleImage idle(image);
    idle.setVisible(true);
    EXPECT_TRUE(image->property("visible").toBool());
    idle.setVisible(false);
    EXPECT_FALSE(image->property("visible").toBool());

    LogCapture capture;
    IdleImage().setVisible(true);
    EXPECT_EQ(capture.summary(), std::vector<std::string>{"E:Trying to change the visibility of empty IdleImage"});
}

} // namespace

int main(int argc, char** argv)
{
    return testsupport::runGuiTests(argc, argv);
}

#include "build_test.moc"
