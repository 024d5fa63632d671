// Entry point of kestrova-viewer: logging, the web and media runtimes, the command line,
// then the client and the event loop.
#include "kestrovaclient.h"
#include "kestrovaconfig.h"
#include "logging.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QtWebEngine>

#include <glog/logging.h>
#include <gst/gst.h>
#include <systemd/sd-journal.h>

int main(int argc, char* argv[])
{
    google::InitGoogleLogging(argv[0]);
    google::InstallFailureSignalHandler();

    QCoreApplication::setApplicationName(QStringLiteral("kestrova-viewer"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.9"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrova"));

    // The web engine must be set up before the application object exists.
    QtWebEngine::initialize();
    QGuiApplication app(argc, argv);

    gst_registry_fork_set_enabled(FALSE);
    gst_init(nullptr, nullptr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Play Kestrova QML based presentations."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption watchdogOption({QStringLiteral("w"), QStringLiteral("watchdog")},
                                            QStringLiteral("Enable watchdog functionality"));
    const QCommandLineOption decryptionKeyOption(
        {QStringLiteral("k"), QStringLiteral("decryption-key")},
        QStringLiteral("Path to a private key used for decryption or tpm if the key is stored in TPM."),
        QStringLiteral("decryptionKey"));
    const QCommandLineOption stopAfterOption(QStringLiteral("stop-after"),
                                             QStringLiteral("Quit immediately after the nth build has been displayed"),
                                             QStringLiteral("n"));
    const QCommandLineOption journalOption(QStringLiteral("log-to-system-journal"), QStringLiteral("Log to system journal."));
    parser.addOption(watchdogOption);
    parser.addOption(decryptionKeyOption);
    parser.addOption(stopAfterOption);
    parser.addOption(journalOption);
    parser.addPositionalArgument(QStringLiteral("content"),
                                 QCoreApplication::translate("main", "Path to the presentation root folder."));
    parser.process(app);

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        parser.showHelp(0);

    SystemdLogSink journalSink;
    const bool logToSystemJournal = parser.isSet(journalOption);
    if (logToSystemJournal) {
        google::AddLogSink(&journalSink);
        FLAGS_stderrthreshold = google::GLOG_FATAL;
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            sd_journal_send_with_location("CODE_FILE=" __FILE__, "CODE_LINE=" QT_STRINGIFY(__LINE__), __func__,
                                          "PRIORITY=%d", journalPriority(type),
                                          "MESSAGE=%s", message.toUtf8().constData(),
                                          "FILE=%s", context.file ? context.file : "",
                                          "LINE=%d", context.line,
                                          nullptr);
        });
    } else {
        qInstallMessageHandler(loggingOutput);
    }

    const bool watchdog = parser.isSet(watchdogOption);
    if (watchdog)
        VLOG(1) << "Watchdog is enabled.";

    std::optional<int32_t> stopAfter;
    if (parser.isSet(stopAfterOption))
        stopAfter = parser.value(stopAfterOption).toInt(nullptr, 10); // not a number: 0
    std::optional<QString> decryptionKey;
    if (parser.isSet(decryptionKeyOption))
        decryptionKey = parser.value(decryptionKeyOption);

    LOG(INFO) << "Decrpyption key path: " << decryptionKey.value_or(QStringLiteral("None"));

    KestrovaConfig config;
    config.content = positional.first();
    config.watchdog = watchdog;
    config.stopAfter = stopAfter;
    config.decryptionKey = decryptionKey;
    config.logToSystemJournal = logToSystemJournal;
    KestrovaClient client(config, nullptr);

    LOG(INFO) << "Viewer started. Playing content at " << config.content;

    const int result = app.exec();
    google::RemoveLogSink(&journalSink);
    google::ShutdownGoogleLogging();
    return result;
}
