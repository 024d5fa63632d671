// The one object that owns the running system: builds the long-lived objects, publishes
// them to QML and loads the main window.
#pragma once

#include "kestrovaconfig.h"

#include <QObject>
#include <QQmlApplicationEngine>
#include <QSize>

class QQuickWindow;

class KestrovaClient : public QObject {
    Q_OBJECT
public:
    explicit KestrovaClient(const KestrovaConfig& config, QObject* parent = nullptr);

    QQmlApplicationEngine* engine() { return &m_engine; }
    QQuickWindow* appWindow() const { return m_appWindow; }

private:
    void loadApp();

    QQmlApplicationEngine m_engine;
    QQuickWindow* m_appWindow = nullptr;
    QSize m_windowSize;
};
