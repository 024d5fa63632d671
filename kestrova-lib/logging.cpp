#include "logging.h"

#include <systemd/sd-journal.h>

void loggingOutput(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    Q_UNUSED(context)
    switch (type) {
    case QtDebugMsg:
        VLOG(1) << message;
        break;
    case QtWarningMsg:
        LOG(WARNING) << message;
        break;
    case QtCriticalMsg:
        LOG(ERROR) << message;
        break;
    case QtFatalMsg:
        // The framework ends the process itself after every fatal message.
        LOG(ERROR) << message;
        break;
    case QtInfoMsg:
        LOG(INFO) << message;
        break;
    default:
        break;
    }
}

int journalPriority(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return 7;
    case QtWarningMsg:
        return 4;
    case QtCriticalMsg:
        return 3;
    case QtFatalMsg:
        return 2;
    case QtInfoMsg:
        return 6;
    default:
        return 7;
    }
}

int journalPriority(google::LogSeverity severity)
{
    switch (severity) {
    case google::GLOG_INFO:
        return 6;
    case google::GLOG_WARNING:
        return 4;
    case google::GLOG_ERROR:
        return 3;
    case google::GLOG_FATAL:
        return 2;
    default:
        return 7;
    }
}

void SystemdLogSink::send(google::LogSeverity severity, const char* full_filename, const char* base_filename,
                          int line, const google::LogMessageTime& logmsgtime, const char* message,
                          size_t message_len)
{
    Q_UNUSED(full_filename)
    Q_UNUSED(logmsgtime)
    // The library hands over the text without its line prefix and not NUL-terminated.
    sd_journal_send_with_location("CODE_FILE=" __FILE__, "CODE_LINE=" QT_STRINGIFY(__LINE__), __func__,
                                  "PRIORITY=%d", journalPriority(severity),
                                  "MESSAGE=%.*s", int(message_len), message,
                                  "FILE=%s", base_filename ? base_filename : "",
                                  "LINE=%d", line,
                                  nullptr);
}

std::ostream& operator<<(std::ostream& stream, const QString& text)
{
    return stream << text.toUtf8().constData();
}

std::ostream& operator<<(std::ostream& stream, const QStringList& texts)
{
    for (const QString& text : texts)
        stream << text;
    return stream;
}
