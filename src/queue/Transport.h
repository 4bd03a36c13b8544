#pragma once

#include <QObject>
#include <QTimer>
#include <QUrl>
#include <optional>

class BitPerfectAudioPlayer;
class Clock;
class PlayQueue;
class WaveformLoader;

// Drives the engine from the play queue: starting a track at an index and a
// point inside it, next, previous, stop, play/pause, the wall-clock progress
// and the automatic move to the next track when one runs out.
//
// Progress is not read from the engine. The transport keeps the instant at
// which the current track's position 0 would have played and turns the time
// since then into a fraction of the track; every command that moves the play
// position re-anchors or clears it. A track the engine loads in the
// background is anchored when its sound starts (the engine's started()).
//
// GUI thread only. No operation reports failure: a track the engine cannot
// play leaves the engine idle, with its reason, and the queue where the
// command put it; only a track that played to its end moves on by itself.
class Transport : public QObject
{
    Q_OBJECT
    Q_PROPERTY(double playbackProgress READ playbackProgress NOTIFY playbackProgressChanged)
    Q_PROPERTY(bool isNeedToPlayNext READ isNeedToPlayNext NOTIFY isNeedToPlayNextChanged)
    Q_PROPERTY(bool canStop READ canStop NOTIFY canStopChanged)
    Q_PROPERTY(bool canGoNext READ canGoNext NOTIFY canGoNextChanged)

public:
    static constexpr int progressIntervalMs = 50;

    Transport(PlayQueue &queue, BitPerfectAudioPlayer &player, WaveformLoader &waveforms,
              const Clock &clock, QObject *parent = nullptr);

    double playbackProgress() const { return m_playbackProgress; }
    bool isNeedToPlayNext() const { return m_isNeedToPlayNext; }
    std::optional<double> playbackStart() const { return m_playbackStart; }
    bool canStop() const;
    bool canGoNext() const;

    // Starts the track at `index` (ignored outside the queue) from `fraction`
    // of its length, clamped to 0...1, which is the progress at once. The
    // track in memory only moves its frame; any other is loaded, and progress
    // moves once its sound starts.
    Q_INVOKABLE void playTrack(qint64 index, double fraction);
    Q_INVOKABLE void next();
    Q_INVOKABLE void prev();
    Q_INVOKABLE void stopPlayback();
    // Nothing while the engine loads a track.
    Q_INVOKABLE void togglePausePlayback();
    // Reads `url` into memory before it is asked to play: a playTrack() of
    // it then starts from the read under way, or from memory.
    void readAhead(const QUrl &url);

    // One progress step; the timer calls it every 50 ms once started.
    void tick();
    void startProgressTimer();

signals:
    void playbackProgressChanged();
    void isNeedToPlayNextChanged();
    void canStopChanged();
    void canGoNextChanged();

private:
    void setPlaybackProgress(double progress);
    void setIsNeedToPlayNext(bool value);
    void anchorAt(double seconds);
    void anchorAtStart();
    void followAdvance();
    void preloadFollowingTrack();
    void scheduleEndOfTrackCheck();
    void checkEndOfTrack();
    void updateEnabledRules();

    PlayQueue &m_queue;
    BitPerfectAudioPlayer &m_player;
    WaveformLoader &m_waveforms;
    const Clock &m_clock;
    QTimer m_progressTimer;

    std::optional<double> m_playbackStart;
    // Where the start the engine is loading for begins, as a fraction.
    std::optional<double> m_awaitedStart;
    double m_playbackProgress = 0.0;
    bool m_isNeedToPlayNext = true;
    // What readAhead() reads for a start not yet asked for; kept through a
    // queue change that still holds it, until the next playTrack().
    QUrl m_readForStart;

    bool m_lastSeenIsPlaying = false;
    bool m_endOfTrackCheckPending = false;
    bool m_canStop = false;
    bool m_canGoNext = false;
};
