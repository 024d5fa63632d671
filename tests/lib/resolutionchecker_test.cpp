// The delayed resolution check against a stand-in "tvservice" found first on PATH.
#include "resolutionchecker.h"

#include "logcapture.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>
#include <string>
#include <vector>

using testsupport::LogCapture;

namespace {

const QByteArray kFakeDir = KESTROVA_FIXTURES_DIR "/tvservice";

// Every check logs exactly two lines, the second one once it is decided.
constexpr size_t kLinesPerCheck = 2;

class ResolutionCheckerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        qputenv("PATH", kFakeDir + ':' + m_path);
        for (const char* name : {"FAKE_TVSERVICE_OUTPUT", "FAKE_TVSERVICE_EXIT", "FAKE_TVSERVICE_SLEEP",
                                 "FAKE_TVSERVICE_STARTED"})
            qunsetenv(name);
    }
    void TearDown() override { qputenv("PATH", m_path); }

    // What the stand-in prints the next time it runs.
    void answer(const QByteArray& output, int exitCode = 0)
    {
        QFile file(m_dir.filePath(QStringLiteral("output")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(output), output.size());
        qputenv("FAKE_TVSERVICE_OUTPUT", file.fileName().toLocal8Bit());
        qputenv("FAKE_TVSERVICE_EXIT", QByteArray::number(exitCode));
    }

    void withoutTvservice() { qputenv("PATH", m_dir.path().toLocal8Bit()); }

    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir m_dir;
    const QByteArray m_path = qgetenv("PATH");
};

// One checker followed from start to its decision.
struct Watched {
    explicit Watched(ResolutionChecker& checker)
        : spy(&checker, &ResolutionChecker::screenResolutionReceived)
    {
        QObject::connect(&checker, &ResolutionChecker::screenResolutionReceived, [this](QSize) {
            deliveredIn.push_back(QThread::currentThread());
            afterStartReturned.push_back(startReturned);
        });
    }

    QSignalSpy spy;
    bool startReturned = false;
    std::vector<QThread*> deliveredIn;
    std::vector<bool> afterStartReturned;
};

bool waitForLines(const LogCapture& log, size_t count)
{
    const bool reached = QTest::qWaitFor([&] { return log.lines().size() >= count; }, 20000);
    // A signal is queued before the line that follows it; let it arrive.
    QCoreApplication::processEvents();
    return reached;
}

} // namespace

TEST_F(ResolutionCheckerTest, ReadsTheResolutionFromTheToolsAnswer)
{
    struct Case {
        const char* name;
        QByteArray output;
        int exitCode;
        QSize expected; // invalid: nothing reported
        std::string logged; // the output as it appears in the log
    };
    const QByteArray hdmi = "state 0x12000a [HDMI CEA (16) RGB lim 16:9], 1920x1080 @ 60.00Hz, progressive\n";
    const Case cases[] = {
        {"HDMI state", hdmi, 0, QSize(1920, 1080), hdmi.toStdString()},
        {"no blanks around the @", "1280x720@50Hz", 0, QSize(1280, 720), "1280x720@50Hz"},
        {"the first of two", "800x480 @ 60Hz, 1024x768 @ 60Hz", 0, QSize(800, 480), "800x480 @ 60Hz, 1024x768 @ 60Hz"},
        {"bytes read as Latin-1", "\xe9tat 1024x600 @ 60Hz", 0, QSize(1024, 600), "\xc3\xa9tat 1024x600 @ 60Hz"},
        {"size without a rate", "state 0x40001 [NTSC 4:3], 720x480 interlaced", 0, QSize(),
         "state 0x40001 [NTSC 4:3], 720x480 interlaced"},
        {"display off", "state 0x120002 [TV is off]\n", 0, QSize(), "state 0x120002 [TV is off]\n"},
        {"failing tool", "", 255, QSize(), ""},
        {"nothing read past a NUL byte", QByteArray("no mode\0 1920x1080 @ 60Hz", 25), 0, QSize(), "no mode"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        answer(c.output, c.exitCode);
        LogCapture log;
        ResolutionChecker checker;
        Watched watched(checker);
        checker.startCheckingResolution(100);
        watched.startReturned = true;
        ASSERT_TRUE(waitForLines(log, kLinesPerCheck));

        std::vector<std::string> expectedLog{"I:TV service output: " + c.logged + "."};
        if (c.expected.isValid()) {
            ASSERT_EQ(watched.spy.count(), 1);
            EXPECT_EQ(watched.spy.at(0).at(0).toSize(), c.expected);
            EXPECT_EQ(watched.deliveredIn, std::vector<QThread*>{QThread::currentThread()});
            EXPECT_EQ(watched.afterStartReturned, std::vector<bool>{true});
            expectedLog.push_back("I:Resolution reported by tvservice: " + std::to_string(c.expected.width()) + "x"
                                  + std::to_string(c.expected.height()) + ".");
        } else {
            EXPECT_EQ(watched.spy.count(), 0);
            expectedLog.push_back("I:Can't obtain resolution from tvservice.");
        }
        EXPECT_EQ(log.summary(), expectedLog);
    }
}

TEST_F(ResolutionCheckerTest, MissingToolReportsNothing)
{
    withoutTvservice();
    LogCapture log;
    ResolutionChecker checker;
    Watched watched(checker);
    checker.startCheckingResolution(100);
    ASSERT_TRUE(waitForLines(log, kLinesPerCheck));
    EXPECT_EQ(watched.spy.count(), 0);
    EXPECT_EQ(log.summary(),
              (std::vector<std::string>{"I:TV service output: .", "I:Can't obtain resolution from tvservice."}));
}

// Two checkers side by side: the short one answers once and only once, the one with an
// hour to go has not run by then.
TEST_F(ResolutionCheckerTest, ChecksOnceWhenTheDelayIsUp)
{
    answer("1920x1080 @ 60Hz");
    LogCapture log;
    auto later = std::make_unique<ResolutionChecker>();
    Watched watchedLater(*later);
    later->startCheckingResolution(3600 * 1000);
    ResolutionChecker soon;
    Watched watchedSoon(soon);
    soon.startCheckingResolution(100);

    ASSERT_TRUE(waitForLines(log, kLinesPerCheck));
    QTest::qWait(1000); // a repeating timer would have run the tool again by now
    EXPECT_EQ(watchedSoon.spy.count(), 1);
    EXPECT_EQ(watchedLater.spy.count(), 0);
    EXPECT_EQ(log.lines().size(), kLinesPerCheck);

    later.reset(); // with its timer still pending
    EXPECT_EQ(log.lines().size(), kLinesPerCheck);
}

TEST_F(ResolutionCheckerTest, DestroyingRightAfterStartingRunsNothing)
{
    answer("1920x1080 @ 60Hz");
    LogCapture log;
    {
        ResolutionChecker unused;
    }
    {
        ResolutionChecker checker;
        checker.startCheckingResolution(100);
    }
    QTest::qWait(500);
    EXPECT_EQ(log.summary(), std::vector<std::string>{});
}

// The destructor lets a running check finish rather than pull the thread from under it.
TEST_F(ResolutionCheckerTest, DestroyingDuringACheckWaitsForIt)
{
    answer("1920x1080 @ 60Hz");
    qputenv("FAKE_TVSERVICE_SLEEP", "1");
    qputenv("FAKE_TVSERVICE_STARTED", path("started").toLocal8Bit());
    LogCapture log;
    {
        ResolutionChecker checker;
        checker.startCheckingResolution(0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(path("started")); }, 20000));
    }
    EXPECT_EQ(log.summary(), (std::vector<std::string>{"I:TV service output: 1920x1080 @ 60Hz.",
                                                       "I:Resolution reported by tvservice: 1920x1080."}));
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    google::InitGoogleLogging(argv[0]);
    // Log lines go next to the test output rather than into files under /tmp.
    FLAGS_logtostderr = true;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
