#include "toplevelwindow.h"

#include "playerutils.h"

#include <QObject>
#include <QQuickWindow>

#include <pthread.h>

QQuickWindow* TopLevelWindow::window_ = nullptr;

void TopLevelWindow::setWindow(QQuickWindow* window)
{
    window_ = window;
    if (!window)
        return;
    // The context object ends the connection once its deferred deletion runs; until then
    // the render thread may be tuned a few more times, which is harmless.
    auto* context = new QObject;
    QObject::connect(
        window, &QQuickWindow::beforeSynchronizing, context,
        [context] {
            setRenderThreadRealTimePriorityAndCpuAffinity(pthread_self());
            context->deleteLater();
        },
        Qt::DirectConnection);
}

QQuickWindow* TopLevelWindow::window()
{
    return window_;
}
