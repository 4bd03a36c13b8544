#include "FileIntake.h"

#include "AudioFileRule.h"
#include "DirectoryListing.h"
#include "PlayQueue.h"
#include "TrackPath.h"
#include "Transport.h"
#include "WaveformLoader.h"

#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <utility>

namespace {
bool isFolder(const QByteArray &path)
{
    struct stat info = {};
    return !path.isEmpty() && stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Dropped URLs in drop order, folders listed one level deep (silently
// skipped when they cannot be). File managers drop folders without a
// trailing slash, so the file system is asked rather than the URL's spelling.
QList<QUrl> dropCandidates(const QList<QUrl> &dropped)
{
    QList<QUrl> candidates;
    for (const QUrl &url : dropped) {
        const QByteArray path = trackpath::bytesOf(url);
        if (isFolder(path)) {
            if (const auto entries = listDirectory(path, nullptr, audiofilerule::isSupportedAudioFileName))
                candidates += *entries;
        } else if (url.isLocalFile()) {
            // Only files play; a web link dropped beside them is no track.
            candidates.append(url);
        }
    }
    return candidates;
}

// Only a decode is worth starting before the window: a WAV or AIFF is read
// in tens of milliseconds, alongside the device's opening once it is asked
// to play, where read at launch its page faults would take the core the
// window is being built on.
bool isDecodedOnLoad(const QUrl &url)
{
    const QString extension = QFileInfo(url.fileName()).suffix().toLower();
    return extension == u"flac" || extension == u"mp3";
}
} // namespace

FileIntake::FileIntake(PlayQueue &queue, Transport &transport, WaveformLoader &waveforms,
                       QObject *parent)
    : QObject(parent)
    , m_queue(queue)
    , m_transport(transport)
    , m_waveforms(waveforms)
{
}

void FileIntake::setIsDropTargeted(bool targeted)
{
    if (m_isDropTargeted == targeted)
        return;
    m_isDropTargeted = targeted;
    emit isDropTargetedChanged();
}

void FileIntake::dragEntered(const QList<QUrl> &urls)
{
    setIsDropTargeted(std::any_of(urls.cbegin(), urls.cend(), [](const QUrl &url) {
        return !trackpath::bytesOf(url).isEmpty();
    }));
}

void FileIntake::dragLeft()
{
    setIsDropTargeted(false);
}

void FileIntake::openFileURLs(const QList<QUrl> &chosen)
{
    loadIfAny(chosen);
}

void FileIntake::openFolderURL(const QUrl &folder)
{
    QString error;
    const auto entries = listDirectory(trackpath::bytesOf(folder), &error, audiofilerule::isSupportedAudioFileName);
    if (!entries) {
        std::printf("Не удалось прочитать папку: %s\n", error.toUtf8().constData());
        std::fflush(stdout);
        return;
    }
    loadIfAny(*entries);
}

bool FileIntake::handleDrop(const QList<QUrl> &dropped)
{
    setIsDropTargeted(false);
    loadIfAny(dropCandidates(dropped));
    return true;
}

void FileIntake::prepareLaunch(const QList<QUrl> &named)
{
    m_launch = audiofilerule::apply(dropCandidates(named));
    if (!m_launch.isEmpty() && isDecodedOnLoad(m_launch.first()))
        m_transport.readAhead(m_launch.first());
}

void FileIntake::takeLaunch()
{
    if (!m_launch.isEmpty())
        loadPlaylist(std::exchange(m_launch, {}));
}

void FileIntake::loadPlaylist(const QList<QUrl> &fileURLs)
{
    m_waveforms.cancelWaveformLoading();
    m_waveforms.resetCaches();
    // The rows shown ask for their waveforms as the queue fills; the pool
    // takes none before the first track's load has begun and it yields to
    // that load, so that no worker decodes the track beside it.
    m_waveforms.holdWorkers(true);
    m_queue.replace(fileURLs);
    m_queue.setCurrentIndex(0);
    m_transport.playTrack(0, 0.0);
    m_waveforms.holdWorkers(false);
    for (qsizetype i = 0; i < std::min<qsizetype>(prefetchedTrackRows, fileURLs.size()); ++i)
        m_waveforms.loadWaveform(fileURLs.at(i), WaveformLoader::Priority::Prefetch);
}

void FileIntake::loadIfAny(const QList<QUrl> &candidates)
{
    const QList<QUrl> accepted = audiofilerule::apply(candidates);
    if (!accepted.isEmpty())
        loadPlaylist(accepted);
}
