// The start-up record handed from main to the client. The client copies what it needs.
#pragma once

#include <QSize>
#include <QString>

#include <cstdint>
#include <optional>

struct KestrovaConfig {
    QString content;                          // the presentation root folder
    std::optional<bool> watchdog;             // keep-alive pings to the systemd watchdog
    std::optional<int32_t> stopAfter;         // --stop-after n
    std::optional<QSize> windowSize;          // resize the main window when both sides > 0
    std::optional<QString> decryptionKey;     // key file path or "tpm"
    std::optional<bool> logToSystemJournal;   // where web page console messages go
};
