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
    Q_PROPERTY(bool isDropTargeted READ isDropTargeted NOTIFY isDropTargetedChanged)

public:
    static constexpr int prefetchedTrackRows = 5;

    FileIntake(PlayQueue &queue, Transport &transport, WaveformLoader &waveforms,
               QObject *parent = nullptr);

    // Whether a drag of files hovers over the window, which then shows that it
    // takes the drop.
    bool isDropTargeted() const { return m_isDropTargeted; }

    // A drag entered the window carrying `urls`: a drop target only when one
    // of them is a local file (dragged text or a web link is not).
    Q_INVOKABLE void dragEntered(const QList<QUrl> &urls);
    Q_INVOKABLE void dragLeft();

    // The files the open-file dialog returned.
    Q_INVOKABLE void openFileURLs(const QList<QUrl> &chosen);

    // Lists the folder one level deep. A folder that cannot be listed writes
    // one line to standard output naming it and the reason.
    Q_INVOKABLE void openFolderURL(const QUrl &folder);

    // Dropped URLs in drop order; folders among them are listed one level
    // deep, silently skipped when they cannot be. Always accepts the drop,
    // which ends the drag.
    Q_INVOKABLE bool handleDrop(const QList<QUrl> &dropped);

    // Files and folders named at launch, in their order: the track that
    // will play first, when it is to be decoded, is read into memory from
    // now on, so that its decode overlaps the window's start; takeLaunch()
    // then takes them in as a drop would.
    void prepareLaunch(const QList<QUrl> &named);
    void takeLaunch();

    // Replaces the queue whole with a non-empty list: resets the waveform
    // caches, requests the first few waveforms and starts the first track.
    void loadPlaylist(const QList<QUrl> &fileURLs);

signals:
    void isDropTargetedChanged();

private:
    void loadIfAny(const QList<QUrl> &candidates);
    void setIsDropTargeted(bool targeted);

    PlayQueue &m_queue;
    Transport &m_transport;
    WaveformLoader &m_waveforms;
    bool m_isDropTargeted = false;
    QList<QUrl> m_launch; // accepted, waiting for takeLaunch()
};
