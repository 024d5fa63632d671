// Start-up of the real viewer: its command line, where its log goes and at which level,
// and the report it leaves when it crashes.
#include "journalcapture.h"
#include "viewerprocess.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>

#include <sys/resource.h>

using namespace std::chrono_literals;
using testsupport::fieldIs;
using testsupport::JournalCapture;
using testsupport::ViewerProcess;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::Pair;

namespace {

// Generous bounds for a loaded machine; the waits end as soon as the text shows.
constexpr auto startTimeout = 60s;
constexpr auto exitTimeout = 30s;
constexpr auto pingTimeout = 15s;
// The QML pings once a second: this is long enough to see two of them.
constexpr auto quietPeriod = 2500ms;

const QString startedText = QStringLiteral("Viewer started. Playing content at ");
const QString pingText = QStringLiteral("Watchdog notified from QML");

// A whole line of the leveled log, e.g. "I20260101 12:00:00.000000  1234 main.cpp:12] text".
// An empty file matches any source file.
QRegularExpression logLine(QChar severity, const QString& file, const QString& message)
{
    return QRegularExpression(QStringLiteral("^%1\\d+ [\\d:.]+ +\\d+ %2:\\d+\\] %3$")
                                  .arg(QString(severity),
                                       file.isEmpty() ? QStringLiteral("\\S+") : QRegularExpression::escape(file),
                                       QRegularExpression::escape(message)),
                              QRegularExpression::MultilineOption);
}

// Any line of the leveled log.
const QRegularExpression anyLogLine(QStringLiteral("^[IWEF]\\d+ [\\d:.]+ +\\d+ \\S+:\\d+\\] "),
                                    QRegularExpression::MultilineOption);

// 1-based number of the first line of the file containing the text, 0 if none does.
int lineContaining(const QString& path, const QByteArray& text)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (int number = 1; !file.atEnd(); ++number) {
        if (file.readLine().contains(text))
            return number;
    }
    return 0;
}

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("KESTROVA_VIEWER")) << "the CTest registration sets it";
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "source tools/headless-env.sh before running";
        ASSERT_TRUE(content.isValid());
    }

    // An empty presentation root.
    QTemporaryDir content;
};

TEST_F(StartupTest, CommandLine)
{
    const struct {
        const char* name;
        QStringList arguments;
        bool succeeds;
        QStringList stdoutLines; // patterns, each matching a whole line
        QStringList stderrLines;
    } cases[] = {
        {"no arguments shows help",
         {},
         true,
         {QStringLiteral("^ +-w, --watchdog +\\S"), QStringLiteral("^ +-k, --decryption-key <decryptionKey> +\\S"),
          QStringLiteral("^ +--stop-after <n> +\\S"), QStringLiteral("^ +--log-to-system-journal +\\S"),
          QStringLiteral("^ +content +Path to the presentation root folder\\.$")},
         {}},
        {"version", {QStringLiteral("--version")}, true, {QStringLiteral("^kestrova-viewer 2\\.9$")}, {}},
        {"unknown option",
         {QStringLiteral("--no-such-option"), content.path()},
         false,
         {},
         {QStringLiteral("Unknown option 'no-such-option'")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ViewerProcess viewer;
        ASSERT_TRUE(viewer.start(c.arguments)) << viewer.errorString().toStdString();
        const ViewerProcess::Exit exit = viewer.waitForExit(exitTimeout);
        const QString out = viewer.standardOutput();
        const QString err = viewer.standardError();
        ASSERT_TRUE(exit.finished) << "still running; stderr:\n" << err.toStdString();
        EXPECT_FALSE(exit.crashed);
        if (c.succeeds)
            EXPECT_EQ(exit.code, 0);
        else
            EXPECT_NE(exit.code, 0);
        for (const QString& pattern : c.stdoutLines)
            EXPECT_TRUE(out.contains(QRegularExpression(pattern, QRegularExpression::MultilineOption)))
                << pattern.toStdString() << " not on stdout:\n" << out.toStdString();
        for (const QString& pattern : c.stderrLines)
            EXPECT_TRUE(err.contains(QRegularExpression(pattern, QRegularExpression::MultilineOption)))
                << pattern.toStdString() << " not on stderr:\n" << err.toStdString();
    }
}

TEST_F(StartupTest, LogsItsSettingsOnStderr)
{
    const QString dir = content.path();
    const QString second = QStringLiteral("/nonexistent/second-content");
    const struct {
        const char* name;
        QStringList arguments;
        QStringList messages; // besides the start line
    } cases[] = {
        {"decryption key given",
         {QStringLiteral("-k"), QStringLiteral("/some/key.pem"), dir},
         {QStringLiteral("Decrpyption key path: /some/key.pem")}},
        {"no decryption key", {dir}, {QStringLiteral("Decrpyption key path: None")}},
        {"second positional argument ignored", {dir, second}, {}},
        {"stop after a number", {QStringLiteral("--stop-after"), QStringLiteral("3"), dir}, {}},
        {"stop after a non-number", {QStringLiteral("--stop-after"), QStringLiteral("abc"), dir}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ViewerProcess viewer;
        ASSERT_TRUE(viewer.start(c.arguments, {QStringLiteral("GLOG_logtostderr=1"), QStringLiteral("GLOG_v=0")}))
            << viewer.errorString().toStdString();
        EXPECT_TRUE(viewer.waitForStandardError(startedText + dir, startTimeout));
        const QString err = viewer.standardError();
        // The start line ends with the folder: only the first positional argument is used.
        EXPECT_TRUE(err.contains(logLine('I', QString(), startedText + dir))) << err.toStdString();
        EXPECT_FALSE(err.contains(second)) << err.toStdString();
        for (const QString& message : c.messages)
            EXPECT_TRUE(err.contains(logLine('I', QString(), message)))
                << message.toStdString() << " not logged:\n" << err.toStdString();
    }
}

TEST_F(StartupTest, VerbosityGatesDebugOutput)
{
    const struct {
        const char* name;
        QString verbosity;
        bool shown;
    } cases[] = {
        {"verbosity 0", QStringLiteral("GLOG_v=0"), false},
        {"verbosity 1", QStringLiteral("GLOG_v=1"), true},
    };
    const QString enabledText = QStringLiteral("Watchdog is enabled.");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ViewerProcess viewer;
        ASSERT_TRUE(viewer.start({QStringLiteral("-w"), content.path()},
                                 {QStringLiteral("GLOG_logtostderr=1"), c.verbosity}))
            << viewer.errorString().toStdString();
        ASSERT_TRUE(viewer.waitForStandardError(startedText, startTimeout)) << viewer.standardError().toStdString();
        if (c.shown) {
            EXPECT_TRUE(viewer.waitForStandardError(pingText, pingTimeout));
            const QString err = viewer.standardError();
            EXPECT_TRUE(err.contains(logLine('I', QString(), enabledText))) << err.toStdString();
            // Framework messages are logged from the handler, not from their origin.
            EXPECT_TRUE(err.contains(logLine('I', QStringLiteral("logging.cpp"), pingText))) << err.toStdString();
        } else {
            EXPECT_FALSE(viewer.waitForStandardError(pingText, quietPeriod));
            EXPECT_FALSE(viewer.standardError().contains(enabledText)) << viewer.standardError().toStdString();
        }
    }
}

TEST_F(StartupTest, JournalModeLogsIntoTheJournalOnly)
{
    JournalCapture journal;
    ASSERT_TRUE(journal.isOpen()) << journal.error() << " (run the test under tests/with-private-journal.sh)";
    const int pingLine = lineContaining(QStringLiteral(KESTROVA_SOURCE_DIR "/qml/main.qml"),
                                        "console.debug(\"Watchdog notified from QML\")");
    ASSERT_GT(pingLine, 0);
    // Without logtostderr the leveled log also writes files; keep them out of /tmp.
    QTemporaryDir logDir;
    ASSERT_TRUE(logDir.isValid());

    ViewerProcess viewer;
    viewer.environment().remove(QStringLiteral("GLOG_logtostderr"));
    ASSERT_TRUE(viewer.start({QStringLiteral("--log-to-system-journal"), content.path()},
                             {QStringLiteral("GLOG_v=0"), QStringLiteral("GLOG_log_dir=") + logDir.path()}))
        << viewer.errorString().toStdString();

    const auto started = journal.waitFor(fieldIs("MESSAGE", (startedText + content.path()).toStdString()), startTimeout);
    ASSERT_TRUE(started) << "stderr:\n" << viewer.standardError().toStdString();
    EXPECT_THAT(*started, AllOf(Contains(Pair("PRIORITY", "6")), Contains(Pair("FILE", "main.cpp")),
                                Contains(Pair("CODE_FUNC", "send"))));

    // Debug messages reach the journal whatever the verbosity.
    const auto ping = journal.waitFor(fieldIs("MESSAGE", pingText.toStdString()), pingTimeout);
    ASSERT_TRUE(ping) << "stderr:\n" << viewer.standardError().toStdString();
    EXPECT_THAT(*ping, AllOf(Contains(Pair("PRIORITY", "7")), Contains(Pair("LINE", std::to_string(pingLine))),
                             Contains(Pair("CODE_FUNC", "operator()"))));
    // The engine writes the document it loaded from qrc:///qml/main.qml as qrc:/qml/main.qml;
    // both name the same resource.
    const auto file = ping->find("FILE");
    ASSERT_NE(file, ping->end());
    EXPECT_TRUE(QUrl(QString::fromStdString(file->second))
                    .matches(QUrl(QStringLiteral("qrc:///qml/main.qml")), QUrl::RemoveAuthority))
        << "FILE=" << file->second;

    // By now the start-up lines have long been written: none of them went to stderr.
    const QString err = viewer.standardError();
    EXPECT_FALSE(err.contains(anyLogLine)) << err.toStdString();
}

TEST_F(StartupTest, FailureSignalHandlerReportsACrash)
{
    // The crash is on purpose: leave no core file behind.
    const rlimit noCore = {0, 0};
    ASSERT_EQ(setrlimit(RLIMIT_CORE, &noCore), 0);

    ViewerProcess viewer;
    ASSERT_TRUE(viewer.start({content.path()}, {QStringLiteral("GLOG_logtostderr=1")}))
        << viewer.errorString().toStdString();
    ASSERT_TRUE(viewer.waitForStandardError(startedText, startTimeout)) << viewer.standardError().toStdString();
    ASSERT_TRUE(viewer.sendSignal(SIGSEGV));

    const ViewerProcess::Exit exit = viewer.waitForExit(exitTimeout);
    const QString err = viewer.standardError();
    ASSERT_TRUE(exit.finished) << err.toStdString();
    EXPECT_TRUE(exit.crashed);
    EXPECT_EQ(exit.code, SIGSEGV);
    EXPECT_TRUE(err.contains(QStringLiteral("*** SIGSEGV"))) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("received by PID %1 ").arg(viewer.pid()))) << err.toStdString();
}

} // namespace
