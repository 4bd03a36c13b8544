#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

class PlayQueue;
class Transport;
class WaveformLoader;

// The ways files reach the play queue: files chosen in the open-file dialog, a
// folder chosen in the open-folder dialog, and files and folders dropped on
// the window. Each passes its candidates through the audio-file rule and, when
// anything is left, replaces the whole queue and starts its first track.
// Candidates without a supported file change nothing.
//
// GUI thread only.
class FileIntake : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isDropTargeted READ isDropTargeted WRITE setIsDropTargeted NOTIFY isDropTargetedChanged)

public:
    static constexpr int prefetchedTrackRows = 5;

    FileIntake(PlayQueue &queue, Transport &transport, WaveformLoader &waveforms,
               QObject *parent = nullptr);

    bool isDropTargeted() const { return m_isDropTargeted; }
    void setIsDropTargeted(bool targeted);

    // The files the open-file dialog returned.
    Q_INVOKABLE void openFileURLs(const QList<QUrl> &chosen);

    // Lists the folder one level deep. A folder that cannot be listed writes
    // one line to standard output naming it and the reason.
    Q_INVOKABLE void openFolderURL(const QUrl &folder);

    // Dropped URLs in drop order; folders among them are listed one level
    // deep, silently skipped when they cannot be. Always accepts the drop.
    Q_INVOKABLE bool handleDrop(const QList<QUrl> &dropped);

    // Replaces the queue whole with a non-empty list: resets the waveform
    // caches, requests the first few waveforms and starts the first track.
    void loadPlaylist(const QList<QUrl> &fileURLs);

signals:
    void isDropTargetedChanged();

private:
    void loadIfAny(const QList<QUrl> &candidates);

    PlayQueue &m_queue;
    Transport &m_transport;
    WaveformLoader &m_waveforms;
    bool m_isDropTargeted = false;
};
