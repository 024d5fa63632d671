#include "kestrovaclient.h"

#include "logging.h"

#include <QQuickWindow>
#include <QUrl>

KestrovaClient::KestrovaClient(const KestrovaConfig& config, QObject* parent)
    : QObject(parent)
    , m_windowSize(config.windowSize.value_or(QSize(-1, -1)))
{
    // "import Kestrova 1.0" resolves to the module file compiled in as Kestrova/qmldir.
    m_engine.addImportPath(QStringLiteral("qrc:///"));
    loadApp();
}

void KestrovaClient::loadApp()
{
    m_engine.load(QUrl(QStringLiteral("qrc:///qml/main.qml")));
    const auto roots = m_engine.rootObjects();
    m_appWindow = roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(roots.first());
    if (!m_appWindow) {
        LOG(ERROR) << "The main window failed to load";
        return;
    }
    if (m_windowSize.width() > 0 && m_windowSize.height() > 0)
        m_appWindow->resize(m_windowSize);
    m_appWindow->setCursor(Qt::BlankCursor);
    LOG(INFO) << "Player resolution: " << m_appWindow->geometry().width() << "x" << m_appWindow->geometry().height();
}
