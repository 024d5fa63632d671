// Small settings kept as files in the content folder (".audio_output" and the like).
#pragma once

#include <QString>

// The trimmed content of directory/fileName, or a null text when the file cannot be
// opened. Callers decide what a missing setting means, so nothing is logged here.
QString readConfigFileContent(const QString& directory, const QString& fileName);
