// Routing of log output: framework messages into the leveled log, leveled log messages
// into the systemd journal, and how texts are written into log lines.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <glog/logging.h>

#include <ostream>

// Framework message handler that writes into the leveled log. The log site reported is
// this handler, not the message's origin.
void loggingOutput(QtMsgType type, const QMessageLogContext& context, const QString& message);

// Journal priority of a framework message type: debug 7, warning 4, critical 3, fatal 2,
// info 6, anything else 7.
int journalPriority(QtMsgType type);

// Journal priority of a leveled log severity: INFO 6, WARNING 4, ERROR 3, FATAL 2, else 7.
int journalPriority(google::LogSeverity severity);

// Copies every leveled log message into the systemd journal, one entry each.
class SystemdLogSink : public google::LogSink {
public:
    void send(google::LogSeverity severity, const char* full_filename, const char* base_filename, int line,
              const google::LogMessageTime& logmsgtime, const char* message, size_t message_len) override;
};

// Texts go into log lines as their UTF-8 bytes up to the first NUL character; a list of
// texts as its elements one after another.
std::ostream& operator<<(std::ostream& stream, const QString& text);
std::ostream& operator<<(std::ostream& stream, const QStringList& texts);
