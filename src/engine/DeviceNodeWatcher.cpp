#include "DeviceNodeWatcher.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <sys/inotify.h>
#include <unistd.h>

DeviceNodeWatcher::DeviceNodeWatcher(const QString &directory, QObject *parent)
    : QObject(parent)
    , m_directory(directory)
    , m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
    if (m_fd < 0)
        return;
    addWatches();
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &DeviceNodeWatcher::onReadable);
}

DeviceNodeWatcher::~DeviceNodeWatcher()
{
    delete m_notifier;
    if (m_fd >= 0)
        close(m_fd);
}

void DeviceNodeWatcher::addWatches()
{
    const QByteArray parent = QFile::encodeName(QFileInfo(m_directory).absolutePath());
    inotify_add_watch(m_fd, parent.constData(), IN_CREATE | IN_DELETE | IN_ONLYDIR);
    m_directoryWatch = inotify_add_watch(m_fd, QFile::encodeName(m_directory).constData(),
                                         IN_CREATE | IN_DELETE | IN_ATTRIB | IN_ONLYDIR);
}

void DeviceNodeWatcher::onReadable()
{
    alignas(inotify_event) char buffer[4096];
    bool relevant = false;
    ssize_t length;
    while ((length = read(m_fd, buffer, sizeof buffer)) > 0) {
        for (char *p = buffer; p < buffer + length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(p);
            const bool inDirectory = event->wd == m_directoryWatch;
            const bool isDirectory = event->len > 0
                                     && QFileInfo(m_directory).fileName() == QString::fromUtf8(event->name);
            relevant = relevant || inDirectory || isDirectory || (event->mask & IN_IGNORED);
            p += sizeof(inotify_event) + event->len;
        }
    }
    // The directory may have just appeared (first card) or vanished.
    if (!QFileInfo(m_directory).isDir() || m_directoryWatch < 0)
        addWatches();
    if (relevant)
        emit nodesChanged();
}
