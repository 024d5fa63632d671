// Routing of log output: leveled log messages into the journal (received on a socket of
// our own), framework messages into the leveled log, and texts in log lines.
#include "journalcapture.h"
#include "logcapture.h"
#include "logging.h"

#include <QString>
#include <QStringList>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using testsupport::fieldIs;
using testsupport::JournalCapture;
using testsupport::JournalEntry;
using testsupport::LogCapture;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::EndsWith;
using ::testing::Pair;

namespace {

// The datagrams are on the socket once the send returns; this only bounds a failure.
constexpr std::chrono::seconds journalTimeout(5);

std::string receivedMessages(JournalCapture& journal)
{
    std::string out = "received MESSAGEs:";
    for (const JournalEntry& entry : journal.entries()) {
        const auto it = entry.find("MESSAGE");
        out += "\n  " + (it == entry.end() ? std::string("<none>") : it->second);
    }
    return out;
}

class SystemdLogSinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(journal.isOpen()) << journal.error()
                                      << " (run the test under tests/with-private-journal.sh)";
    }

    JournalCapture journal;
    SystemdLogSink sink;
};

TEST_F(SystemdLogSinkTest, LeveledLogMessagesBecomeOneEntryEach)
{
    google::AddLogSink(&sink);
    // Each line number is taken on the line of its LOG statement.
    const int infoLine = __LINE__; LOG(INFO) << "sink: info number " << 1;
    const int warningLine = __LINE__; LOG(WARNING) << "sink: warning";
    const int errorLine = __LINE__; LOG(ERROR) << "sink: error";
    google::RemoveLogSink(&sink);

    const struct {
        const char* message;
        const char* priority;
        int line;
    } cases[] = {
        {"sink: info number 1", "6", infoLine},
        {"sink: warning", "4", warningLine},
        {"sink: error", "3", errorLine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const auto entry = journal.waitFor(fieldIs("MESSAGE", c.message), journalTimeout);
        if (!entry) {
            ADD_FAILURE() << "no entry with this MESSAGE; " << receivedMessages(journal);
            continue;
        }
        EXPECT_THAT(*entry, AllOf(Contains(Pair("PRIORITY", c.priority)),
                                  Contains(Pair("FILE", "logging_test.cpp")),
                                  Contains(Pair("LINE", std::to_string(c.line))),
                                  Contains(Pair("CODE_FUNC", "send")),
                                  Contains(Pair("CODE_FILE", EndsWith("logging.cpp")))));
        const auto& all = journal.entries();
        EXPECT_EQ(std::count_if(all.begin(), all.end(), fieldIs("MESSAGE", c.message)), 1);
    }
}

TEST_F(SystemdLogSinkTest, SendMapsSeverityAndTakesExactlyTheGivenText)
{
    const struct {
        const char* name;
        google::LogSeverity severity;
        const char* baseFile;
        int line; // also tells the entries apart
        std::string text;
        size_t length;
        const char* priority;
        std::string message;
        const char* file;
    } cases[] = {
        {"fatal", google::GLOG_FATAL, "a.cpp", 9001, "fatal", 5, "2", "fatal", "a.cpp"},
        {"severity above fatal", google::GLOG_FATAL + 1, "a.cpp", 9002, "above", 5, "7", "above", "a.cpp"},
        {"negative severity", -1, "a.cpp", 9003, "negative", 8, "7", "negative", "a.cpp"},
        {"length shorter than the text", google::GLOG_INFO, "b.cpp", 9004, "kept|dropped", 4, "6", "kept", "b.cpp"},
        {"newline in the text", google::GLOG_WARNING, "c.cpp", 9005, "first\nsecond", 12, "4", "first\nsecond",
         "c.cpp"},
        {"no base file name", google::GLOG_ERROR, nullptr, 9006, "nameless", 8, "3", "nameless", ""},
    };
    const google::LogMessageTime time;
    for (const auto& c : cases)
        sink.send(c.severity, "/src/dir/a.cpp", c.baseFile, c.line, time, c.text.data(), c.length);

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto entry = journal.waitFor(fieldIs("LINE", std::to_string(c.line)), journalTimeout);
        if (!entry) {
            ADD_FAILURE() << "no entry with this LINE; " << receivedMessages(journal);
            continue;
        }
        EXPECT_THAT(*entry, AllOf(Contains(Pair("PRIORITY", c.priority)), Contains(Pair("MESSAGE", c.message)),
                                  Contains(Pair("FILE", c.file)), Contains(Pair("CODE_FUNC", "send"))));
    }
}

TEST(JournalPriorityTest, FrameworkMessageTypes)
{
    const struct {
        const char* name;
        QtMsgType type;
        int priority;
    } cases[] = {
        {"debug", QtDebugMsg, 7},
        {"warning", QtWarningMsg, 4},
        {"critical", QtCriticalMsg, 3},
        {"fatal", QtFatalMsg, 2},
        {"info", QtInfoMsg, 6},
        {"unknown", static_cast<QtMsgType>(42), 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(journalPriority(c.type), c.priority);
    }
}

class LoggingOutputTest : public ::testing::Test {
protected:
    void TearDown() override { FLAGS_v = savedVerbosity; }

    LogCapture log;
    const int savedVerbosity = FLAGS_v;
};

TEST_F(LoggingOutputTest, MessageTypesMapToSeverities)
{
    const struct {
        const char* name;
        QtMsgType type;
        int verbosity;
        std::optional<google::LogSeverity> severity; // none: nothing is logged
    } cases[] = {
        {"debug at verbosity 0", QtDebugMsg, 0, std::nullopt},
        {"debug at verbosity 1", QtDebugMsg, 1, google::GLOG_INFO},
        {"warning", QtWarningMsg, 0, google::GLOG_WARNING},
        {"critical", QtCriticalMsg, 0, google::GLOG_ERROR},
        {"fatal", QtFatalMsg, 0, google::GLOG_ERROR},
        {"info", QtInfoMsg, 0, google::GLOG_INFO},
        {"unknown type", static_cast<QtMsgType>(42), 1, std::nullopt},
    };
    // The origin in the context must not show up as the log site.
    const QMessageLogContext context("qml/origin.qml", 42, "originFunction", "default");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        FLAGS_v = c.verbosity;
        loggingOutput(c.type, context, QString::fromUtf8("grüße, %1").arg(QLatin1String(c.name)));
        const auto lines = log.lines();
        if (!c.severity) {
            EXPECT_TRUE(lines.empty());
            continue;
        }
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].severity, *c.severity);
        EXPECT_EQ(lines[0].file, "logging.cpp");
        EXPECT_EQ(lines[0].message, std::string("gr\xc3\xbc\xc3\x9f" "e, ") + c.name);
    }
}

TEST_F(LoggingOutputTest, InstalledAsHandlerTakesFrameworkWarnings)
{
    const QtMessageHandler previous = qInstallMessageHandler(loggingOutput);
    qWarning("framework warning %d", 7);
    qInstallMessageHandler(previous);

    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].severity, google::GLOG_WARNING);
    EXPECT_EQ(lines[0].file, "logging.cpp");
    EXPECT_EQ(lines[0].message, "framework warning 7");
}

TEST(LogTextTest, TextIsUtf8UpToTheFirstNul)
{
    const struct {
        const char* name;
        QString text;
        std::string written;
    } cases[] = {
        {"ASCII", QStringLiteral("plain"), "plain"},
        {"non-ASCII", QString::fromUtf8("grüße"), "gr\xc3\xbc\xc3\x9f" "e"},
        {"NUL inside", QString::fromUtf8("ab\0cd", 5), "ab"},
        {"empty", QString(), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ostringstream out;
        out << c.text << '|';
        EXPECT_EQ(out.str(), c.written + '|');
    }
}

TEST(LogTextTest, ListIsItsElementsOneAfterAnother)
{
    const struct {
        const char* name;
        QStringList texts;
        std::string written;
    } cases[] = {
        {"two elements", {QStringLiteral("eins"), QStringLiteral("zwei")}, "einszwei"},
        {"empty list", {}, ""},
        {"NUL ends only its own element", {QString::fromUtf8("ab\0x", 4), QString::fromUtf8("ü")}, "ab\xc3\xbc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ostringstream out;
        out << c.texts << '|';
        EXPECT_EQ(out.str(), c.written + '|');
    }
}

} // namespace

int main(int argc, char** argv)
{
    google::InitGoogleLogging(argv[0]);
    // Log lines go next to the test output rather than into files under /tmp.
    FLAGS_logtostderr = true;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
