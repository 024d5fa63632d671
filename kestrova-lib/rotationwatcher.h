// The screen rotation as a number in a file of the content folder, and notice when the
// file changes, disappears or appears.
#pragma once

#include <QObject>
#include <QString>

class QFileSystemWatcher;

class RotationWatcher : public QObject {
    Q_OBJECT
public:
    RotationWatcher(const QString& path, QObject* parent);

    // Watches the file, or its directory while the file does not exist.
    void watch();
    // 0, 90, 180 or 270: the file holds 1, 2 or 3 quarter turns; anything else is 0.
    int readRotationAngle() const;

signals:
    void rotationChanged();

private:
    QFileSystemWatcher* m_watcher;
    QString m_path;
};
