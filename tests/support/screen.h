// What the X display shows, for tests that look at the viewer's window.
#pragma once

#include <QImage>
#include <QProcess>
#include <QRgb>
#include <QString>

namespace testsupport {

// A whole-screen capture of the X display, saved to path; null when it failed.
inline QImage grabScreen(const QString& path)
{
    QProcess import;
    import.start(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), path});
    if (!import.waitForFinished(30000) || import.exitCode() != 0)
        return {};
    return QImage(path);
}

// The colour in the middle of the screen.
inline QRgb centreColour(const QImage& image)
{
    return image.isNull() ? QRgb(0x12345678) : image.pixel(image.width() / 2, image.height() / 2) & 0xFFFFFF;
}

} // namespace testsupport
