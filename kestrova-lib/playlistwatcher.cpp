#include "playlistwatcher.h"

#include "logging.h"

#include <QFileInfo>
#include <QStringList>

PlaylistWatcher::PlaylistWatcher(QObject* parent)
    : QObject(parent)
{
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &PlaylistWatcher::fileChanged);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &PlaylistWatcher::directoryChanged);
}

void PlaylistWatcher::watchFile(const QString& path)
{
    if (path.isEmpty()) {
        LOG(WARNING) << "void PlaylistWatcher::watchFile(const QString&)"
                     << " Path is empty";
        return;
    }
    const QStringList files = m_watcher.files();
    if (files.contains(path, Qt::CaseSensitive))
        return;
    if (!files.isEmpty())
        m_watcher.removePaths(files);
    // A missing file cannot be watched; its folder tells us when it is created.
    if (!m_watcher.addPath(path))
        m_watcher.addPath(QFileInfo(path).absolutePath());
}

void PlaylistWatcher::fileChanged(const QString& path)
{
    VLOG(1) << "Playlist " << path << " changed!";
    emit playlistFileChanged();
    // A replaced or removed file has dropped out of the watcher by now: this takes up the
    // new file, or the folder while there is none.
    watchFile(path);
}

void PlaylistWatcher::directoryChanged(const QString& path)
{
    const QString filePath = path + QStringLiteral("/playlist.json");
    if (!QFileInfo::exists(filePath))
        return;
    const QStringList directories = m_watcher.directories();
    if (!directories.isEmpty())
        m_watcher.removePaths(directories);
    watchFile(filePath);
    emit playlistFileChanged();
}
