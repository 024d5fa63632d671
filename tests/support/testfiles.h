// Writing files the ways the viewer meets them: in place, or replaced by a rename.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <gtest/gtest.h>

#include <cstdio>

namespace testsupport {

inline void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(content), content.size());
}

// The way editors and mv change a file: a new file renamed over the old one.
inline void replaceFile(const QString& path, const QByteArray& content)
{
    const QString temporary = path + QStringLiteral(".new");
    writeFile(temporary, content);
    ASSERT_EQ(std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()), 0);
}

} // namespace testsupport
