// The screenshot provider on a real window under the test's X display: captures of a
// window showing one colour, and what QML image requests get before and after.
#include "screenshotprovider.h"

#include "logcapture.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QTest>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using testsupport::LogCapture;

namespace {

const QColor kWindowColour(0x30, 0x80, 0xc0);
const QSize kWindowSize(64, 48);

class ScreenshotProviderTest : public ::testing::Test {
protected:
    // A shown window filled by a rectangle of kWindowColour.
    std::unique_ptr<QQuickWindow> showWindow()
    {
        QQmlComponent component(&engine);
        component.setData(R"(
            import QtQuick 2.2
            import QtQuick.Window 2.2
            Window {
                width: 64; height: 48; visible: true; color: "black"
                Rectangle { anchors.fill: parent; color: "#3080c0" }
            })",
                          QUrl(QStringLiteral("qrc:/screenshotprovider_test/window.qml")));
        std::unique_ptr<QQuickWindow> window(qobject_cast<QQuickWindow*>(component.create()));
        EXPECT_NE(window, nullptr) << component.errorString().toStdString();
        if (window) {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        }
        return window;
    }

    QQmlEngine engine;
    ScreenshotProvider provider;
};

TEST_F(ScreenshotProviderTest, BeforeAnyCaptureRequestsGetBlack)
{
    LogCapture capture;
    QSize size(-7, -7);
    const QImage image = provider.requestImage(QStringLiteral("0"), &size, QSize(32, 16));
    EXPECT_EQ(image.size(), QSize(32, 16));
    EXPECT_EQ(image.format(), QImage::Format_RGBA8888);
    QImage black(32, 16, QImage::Format_RGBA8888);
    black.fill(QColor(0, 0, 0, 255));
    EXPECT_EQ(image, black);
    EXPECT_EQ(size, QSize(-7, -7)) << "size is left alone";
    EXPECT_EQ(capture.summary(), std::vector<std::string>{"W:No screenshot set"});
}

TEST_F(ScreenshotProviderTest, CaptureWithoutWindowKeepsTheEarlierOne)
{
    {
        LogCapture capture;
        EXPECT_TRUE(provider.grabScreenshot().isNull());
        EXPECT_EQ(capture.summary(), std::vector<std::string>{"W:Screenshot provider has no window"});
    }

    std::unique_ptr<QQuickWindow> window = showWindow();
    ASSERT_NE(window, nullptr);
    provider.setWindow(window.get());
    const QImage first = provider.grabScreenshot();
    ASSERT_FALSE(first.isNull());

    struct Case {
        const char* name;
        std::function<void()> loseWindow;
    };
    const Case cases[] = {
        {"window unset", [&] { provider.setWindow(nullptr); }},
        {"window destroyed", [&] {
             provider.setWindow(window.get());
             window.reset();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.loseWindow();
        LogCapture capture;
        EXPECT_TRUE(provider.grabScreenshot().isNull());
        EXPECT_EQ(capture.summary(), std::vector<std::string>{"W:Screenshot provider has no window"});
        QSize size;
        EXPECT_EQ(provider.requestImage(QStringLiteral("1"), &size, QSize()), first);
        EXPECT_EQ(size, first.size());
    }
}

TEST_F(ScreenshotProviderTest, EveryIdGetsTheLastCaptureAtItsOwnSize)
{
    std::unique_ptr<QQuickWindow> window = showWindow();
    ASSERT_NE(window, nullptr);
    provider.setWindow(window.get());
    const QImage captured = provider.grabScreenshot();
    ASSERT_EQ(captured.size(), kWindowSize);
    EXPECT_EQ(captured.pixelColor(32, 24), kWindowColour);

    LogCapture capture;
    for (const char* id : {"0", "17", ""}) {
        SCOPED_TRACE(id);
        QSize size;
        const QImage image = provider.requestImage(QString::fromLatin1(id), &size, QSize(10, 10));
        EXPECT_EQ(size, kWindowSize);
        EXPECT_EQ(image, captured);
        EXPECT_EQ(image.pixelColor(5, 5), kWindowColour);
    }
    EXPECT_TRUE(capture.lines().empty());
}

} // namespace

int main(int argc, char** argv)
{
    google::InitGoogleLogging(argv[0]);
    FLAGS_logtostderr = true;
    ::testing::InitGoogleTest(&argc, argv);
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
