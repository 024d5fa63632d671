// Turns changes of the content folder's playlist.json (rewritten, replaced, removed,
// created again) into one notification each.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>

class PlaylistWatcher : public QObject {
    Q_OBJECT
public:
    explicit PlaylistWatcher(QObject* parent = nullptr);

    // Watches the file, or its folder while the file does not exist.
    void watchFile(const QString& path);

signals:
    // The receiver reads the file again itself.
    void playlistFileChanged();

private slots:
    void fileChanged(const QString& path);
    void directoryChanged(const QString& path);

private:
    QFileSystemWatcher m_watcher;
};
