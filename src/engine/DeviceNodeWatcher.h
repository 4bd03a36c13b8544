#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

// Watches a device-node directory (/dev/snd) with inotify and reports nodes
// appearing or vanishing. Works also when the directory itself does not exist
// yet (no sound card at boot): its parent is watched for it.
// Lives on the GUI thread; signals arrive there.
class DeviceNodeWatcher : public QObject
{
    Q_OBJECT
public:
    // Without inotify the watcher stays silent; nothing else fails.
    explicit DeviceNodeWatcher(const QString &directory = QStringLiteral("/dev/snd"),
                               QObject *parent = nullptr);
    ~DeviceNodeWatcher() override;

signals:
    // One emission per batch of changes.
    void nodesChanged();

private:
    void addWatches();
    void onReadable();

    QString m_directory;
    int m_fd = -1;
    int m_directoryWatch = -1;
    QSocketNotifier *m_notifier = nullptr;
};
