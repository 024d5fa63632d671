// Captures the main window and serves the last capture to QML as image://screenshot/<id>,
// so that a build can start from the last frame of the one before it.
#pragma once

#include <QImage>
#include <QPointer>
#include <QQuickImageProvider>

class QQuickWindow;

class ScreenshotProvider : public QQuickImageProvider {
public:
    ScreenshotProvider();

    void setWindow(QQuickWindow* window);
    // The window's current contents, kept as the last capture. Without a window: a null
    // image, and the earlier capture stays.
    QImage grabScreenshot();

    // The id is ignored: every request gets the last capture at its own size. Before the
    // first capture: a black image of requestedSize.
    QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;

private:
    QImage lastScreenshot;
    // Not owned.
    QPointer<QQuickWindow> window;
};
