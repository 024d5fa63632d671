#include "configfile.h"

#include <QDir>
#include <QFile>
#include <QTextStream>

QString readConfigFileContent(const QString& directory, const QString& fileName)
{
    QFile file(QDir(directory).filePath(fileName));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QTextStream(&file).readAll().trimmed();
}
