#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariantMap>

class BitPerfectAudioPlayer;
class FileIntake;
class PlayQueue;
class TagReader;
class Transport;

// The player as the desktop's media controls see it (media keys, the shell's
// player widget, a phone's remote): its status, the current track's
// metadata and position, what can be done now, and the commands. Every
// command goes through the transport and the intake, as a button, a waveform
// click or a drop would, so their rules hold whichever way a command comes.
// Positions and lengths are in microseconds.
//
// GUI thread only. No command fails: one that makes no sense now does nothing.
class DesktopPlayer : public QObject
{
    Q_OBJECT

public:
    DesktopPlayer(PlayQueue &queue, Transport &transport, BitPerfectAudioPlayer &player,
                  FileIntake &intake, TagReader &tags, QObject *parent = nullptr);

    // "Playing" (also while the track to play loads), "Paused" or "Stopped".
    QString playbackStatus() const;
    // The current track's trackid, length, url, title (the file name when
    // it has no title tag) and, once its tags are read, artist, album,
    // track number and cover; empty with an empty queue.
    QVariantMap metadata() const;
    // Where the engine is in the current track; 0 when it holds none.
    qint64 position() const;
    // The current track's trackid; a new one whenever the queue is replaced.
    QString trackId() const;
    bool canGoNext() const;
    bool canGoPrevious() const;
    // Play, pause and seek need a track.
    bool hasTrack() const;

    void play();
    void pause();
    void playPause();
    void stop();
    void next();
    void previous();
    // Moves by `offset`: before the start means the start, past the end
    // means the next track.
    void seek(qint64 offset);
    // Ignored for a track that is no longer current, or outside the track.
    void setPosition(const QString &trackId, qint64 position);
    // Files and folders replace the queue as a drop of them does.
    void open(const QList<QUrl> &urls);
    void raise();
    void quit();

signals:
    // Something announced may have changed (status, metadata, the Can*).
    void changed();
    // The position jumped (a seek or a restart of the same track).
    void seeked(qint64 position);
    void raiseRequested();
    void quitRequested();

private:
    qint64 length() const;
    bool holdsCurrentTrack() const;
    void seekTo(qint64 position);
    void onCurrentTrackMoved();
    void onStarted();
    void forgetTrackWhenIdle();

    PlayQueue &m_queue;
    Transport &m_transport;
    BitPerfectAudioPlayer &m_player;
    FileIntake &m_intake;
    TagReader &m_tags;
    quint64 m_queueGeneration = 0;
    // The track the engine holds started (playing or paused); empty when idle.
    QString m_heldTrackId;
};
