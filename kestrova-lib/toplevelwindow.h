// Remembers the main window for the parts that need it (the video player), and tunes the
// scene-graph render thread once, on its first synchronisation.
#pragma once

class QQuickWindow;

class TopLevelWindow {
public:
    static void setWindow(QQuickWindow* window);
    static QQuickWindow* window();

private:
    static QQuickWindow* window_;
};
