// What the X display shows, for tests that look at the viewer's window.
#pragma once

#include <QImage>
#include <QProcess>
#include <QRgb>
#include <QString>
#include <QThread>

#include <chrono>
#include <functional>

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

// Captures the screen every 200 ms until a capture satisfies the check or the time is up;
// the last capture (null when none worked).
inline QImage waitForScreen(const QString& path, const std::function<bool(const QImage&)>& check,
                            std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    QImage shot;
    for (;;) {
        shot = grabScreen(path);
        if ((!shot.isNull() && check(shot)) || std::chrono::steady_clock::now() >= end)
            return shot;
        QThread::msleep(200);
    }
}

// The colour in the middle of the screen.
inline QRgb centreColour(const QImage& image)
{
    return image.isNull() ? QRgb(0x12345678) : image.pixel(image.width() / 2, image.height() / 2) & 0xFFFFFF;
}

} // namespace testsupport
