#include "screenshotprovider.h"

#include "logging.h"

#include <QQuickWindow>

ScreenshotProvider::ScreenshotProvider()
    : QQuickImageProvider(QQuickImageProvider::Image)
{
}

void ScreenshotProvider::setWindow(QQuickWindow* window)
{
    this->window = window;
}

QImage ScreenshotProvider::grabScreenshot()
{
    if (!window) {
        LOG(WARNING) << "Screenshot provider has no window";
        return QImage();
    }
    lastScreenshot = window->grabWindow();
    return lastScreenshot;
}

QImage ScreenshotProvider::requestImage(const QString& id, QSize* size, const QSize& requestedSize)
{
    Q_UNUSED(id)
    if (lastScreenshot.isNull()) {
        LOG(WARNING) << "No screenshot set";
        QImage black(requestedSize, QImage::Format_RGBA8888);
        black.fill(Qt::black);
        return black;
    }
    if (size)
        *size = lastScreenshot.size();
    return lastScreenshot;
}
