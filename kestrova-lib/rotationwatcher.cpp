#include "rotationwatcher.h"

#include "logging.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTextStream>

RotationWatcher::RotationWatcher(const QString& path, QObject* parent)
    : QObject(parent)
    , m_watcher(new QFileSystemWatcher(this))
    , m_path(path)
{
    // A deleted or replaced file (editors and mv replace it) drops out of the watcher;
    // watch() then takes up the new file or falls back to the directory.
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, [this] {
        VLOG(1) << "Rotation " << m_path << " changed!";
        emit rotationChanged();
        watch();
    });
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        if (QFileInfo::exists(m_path)) {
            const QStringList directories = m_watcher->directories();
            if (!directories.isEmpty())
                m_watcher->removePaths(directories);
            emit rotationChanged();
        }
        watch();
    });
}

void RotationWatcher::watch()
{
    if (m_path.isEmpty()) {
        LOG(WARNING) << "void RotationWatcher::watch() Path is empty";
        return;
    }
    const QStringList files = m_watcher->files();
    if (files.contains(m_path))
        return;
    if (!files.isEmpty())
        m_watcher->removePaths(files);
    // Without the file only its directory tells us when it is created.
    if (!m_watcher->addPath(m_path))
        m_watcher->addPath(QFileInfo(m_path).absolutePath());
}

int RotationWatcher::readRotationAngle() const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        LOG(WARNING) << "Unable to open rotation file.";
        return 0;
    }
    const int value = QTextStream(&file).readAll().trimmed().toInt(nullptr, 10);
    if (value != 0)
        LOG(INFO) << "Viewer rotation:" << value;
    switch (value) {
    case 1:
    case 2:
    case 3:
        return value * 90;
    default:
        return 0;
    }
}
