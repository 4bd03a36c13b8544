#pragma once

#include "AudioPlatform.h"
#include "DeviceOutput.h"
#include "FileStamp.h"
#include "PlaybackFailure.h"
#include "RenderFeed.h"
#include "SignalPath.h"
#include "StreamFormat.h"
#include "TrackPipeline.h"

#include <QObject>
#include <QUrl>
#include <memory>
#include <optional>


// Plays tracks bit-perfect: each track is read whole into memory, the output
// device is taken for exclusive use at the track's own rate, and a render
// thread copies frames from the block to the device unchanged.
//
// Tracks form a pipeline. While one plays, the next one the queue names is
// read into memory; when the render thread runs out of a track and the next
// has the same format, it goes on into it within the same period, so an album
// reaches the device as one gapless stream. A start or a seek within the track
// in memory only moves the frame. The render thread plays the last frames out
// itself; the GUI thread never waits on the device.
//
// Every public method runs on the GUI thread and reports no error: a failure
// leaves the player Idle (duration and sampleRate 0) with failure() saying
// why, and the published properties say so. Properties change, and
// their signals fire, on the GUI thread only and only on a real change.
//
// The device is the player's only while a unit on it is open or a start on
// it waits: once playback ends for any reason (the last track played out, a
// failed start, a lost device, stop) it goes back to other programs, after a
// moment that lets the queue's next track start without a gap in ownership.
class BitPerfectAudioPlayer : public QObject
{
    Q_OBJECT
    Q_PROPERTY(PlaybackState state READ state NOTIFY stateChanged)
    Q_PROPERTY(bool isPlaying READ isPlaying NOTIFY isPlayingChanged)
    Q_PROPERTY(bool isPaused READ isPaused NOTIFY isPausedChanged)
    Q_PROPERTY(QUrl currentURL READ currentURL NOTIFY currentURLChanged)
    Q_PROPERTY(double duration READ duration NOTIFY durationChanged)
    Q_PROPERTY(double sampleRate READ sampleRate NOTIFY sampleRateChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(SignalPath *signalPath READ signalPath CONSTANT)

public:
    // Idle: nothing plays or waits to (also after a failure). Loading: a
    // track to play is read into memory. WaitingForDevice: a track in memory
    // (loaded, moved to another device, resumed or restarted) waits for
    // another program to let the device go. Playing: a unit renders it.
    // Paused: the track and its frame are kept, nothing renders.
    enum class PlaybackState { Idle, Loading, WaitingForDevice, Playing, Paused };
    Q_ENUM(PlaybackState)

    // GUI thread. `platform` must outlive the player. `loads` runs the loads
    // (on the load worker unless a test needs them at once). Dies (qFatal)
    // only when the process has no file descriptor left for the render
    // thread's wake-up.
    explicit BitPerfectAudioPlayer(AudioPlatform &platform, std::unique_ptr<LoadRunner> loads = workerLoads(),
                                   QObject *parent = nullptr);
    // GUI thread. Stops the output (no render call runs after it returns) and
    // gives loads in flight a moment to stop; a hung one is left behind.
    ~BitPerfectAudioPlayer() override;

    PlaybackState state() const { return m_state; }
    bool isPlaying() const { return m_state == PlaybackState::Playing; }
    bool isPaused() const { return m_state == PlaybackState::Paused; }
    QUrl currentURL() const { return m_currentURL; }
    double duration() const { return m_duration; }
    double sampleRate() const { return m_sampleRate; }
    // Loading or WaitingForDevice: asked to play, not sounding yet.
    bool isLoading() const { return isLoadingState(m_state); }
    // Why the last start failed, or why playback stopped on its own (the
    // device taken over or gone); cleared by the next playBitPerfect.
    const PlaybackFailure &failure() const { return m_failure; }
    // What the running or paused unit hands the device; invalid without one.
    SignalPath *signalPath() { return m_output.signalPath(); }

    // GUI thread. Plays `url` from `startFraction` of its frames (clamped to
    // 0...1, NaN as 0) on the preferred device (else the platform's default).
    // The track in memory, its file unchanged, only moves its frame: at once,
    // without reopening the device, and started() is emitted before this
    // returns. The preloaded next track starts from memory. Anything else
    // stops what plays, publishes currentURL (isPlaying and isPaused turn
    // false, isLoading true), loads the file on the worker and then starts it
    // and emits started(). On any failure the player ends Idle with
    // currentURL set to `url`. A newer call or stop() supersedes a load in
    // flight, which stops within a decode chunk and is never played.
    Q_INVOKABLE void playBitPerfect(const QUrl &url, double startFraction);
    Q_INVOKABLE void playBitPerfect(const QUrl &url) { playBitPerfect(url, 0.0); }
    // GUI thread. Playing only: stops output and keeps the track and its
    // position (the first frame that did not sound). Nothing otherwise,
    // loading included.
    Q_INVOKABLE void pause();
    // GUI thread. Paused only: continues at the same frame on the device
    // selected now (the paused one, or a new one when the selection moved,
    // the paused device vanished or it was given to another program, which
    // may wait for the device as a load does); Idle, with the reason, if
    // the device refuses. Nothing otherwise, loading included.
    Q_INVOKABLE void resume();
    // GUI thread. Any state: drops loads in flight and the preloaded track,
    // tears the output down, frees the track; Idle, duration 0. Cannot fail.
    Q_INVOKABLE void stop();
    // GUI thread. Moves the position to `seconds` when 0 <= seconds <=
    // duration; anything else (NaN included) is ignored. While loading, the
    // last such call is kept and replaces the start fraction when it lies
    // within the loaded track, and is ignored otherwise; while the track
    // waits for its device, the start moves there.
    Q_INVOKABLE void seek(double seconds);
    // GUI thread. Routes output to `deviceId`: a playing track moves there at
    // once from the frame that last sounded (waiting, shown as loading,
    // when another program is asked to let the device go), a loading or
    // waiting one starts there, a paused one moves there at its next start.
    // The preloaded track is dropped. A device that refuses leaves the
    // player Idle, with outputFailed().
    Q_INVOKABLE void setOutputDevice(quint32 deviceId);

    // GUI thread. Reads `url` into memory ahead of time, so that it can
    // follow the playing track without a gap or start at once. One track
    // ahead at most: a newer call replaces the older, and an empty url drops
    // it. Never delays a load to play.
    void preloadNext(const QUrl &url) { m_pipeline->preload(url); }
    // The track preloadNext() holds ready in memory, if any.
    QUrl preloadedURL() const
    {
        const MemoryTrack *ready = m_pipeline->preloaded();
        return ready ? ready->url : QUrl();
    }

    // The layout the running unit feeds the device; equals the track's own
    // format unless the device needed a lossless conversion. Invalid when no
    // unit exists.
    StreamFormat outputFormat() const { return m_output.deviceFormat(); }
    // The device taken by the last start; 0 before any.
    quint32 deviceId() const { return m_output.deviceId(); }
    // The next frame to be rendered: a seek's target as soon as it is made.
    qint64 currentFrame() const { return m_feed.frame(m_track ? m_track->serial : 0); }
    qint64 totalFrames() const { return m_track ? m_track->totalFrames : 0; }

signals:
    void stateChanged();
    void isPlayingChanged();
    void isPausedChanged();
    void currentURLChanged();
    void durationChanged();
    void sampleRateChanged();
    void isLoadingChanged();
    void failureChanged();
    // GUI thread: an output has started, or a start in memory took effect
    // (isPlaying is already true).
    void started();
    // GUI thread: a track read to play is in memory, before it starts and
    // before isLoading turns false; `block` holds its `frames` frames as
    // `format`, and is never written.
    void trackInMemory(const QUrl &url, std::shared_ptr<const TrackBlock> block, StreamFormat format,
                       qint64 frames);
    // GUI thread: the stream went on into the preloaded track without a gap;
    // currentURL, duration and sampleRate already name it.
    void advancedToNext();
    // GUI thread: the device failed or vanished under a playing track and no
    // other took over; the player is Idle.
    void outputFailed();

private:
    using Track = MemoryTrack;

    enum class Announce { Yes, No };
    void collectRenderNews(Announce announce);
    void adoptAdvancedTrack(Announce announce);
    void onPlayedOut();
    void onOutputFailed();

    bool playFromMemory(const QUrl &url, double startFraction);
    void replayCurrent(double startFraction);
    bool playPreloaded(double startFraction);
    void loadToPlay(const QUrl &url, double startFraction);
    void onLoadedToPlay(TrackPipeline::Loaded loaded);
    qint64 startFrameFor(double fraction) const
    {
        return m_track ? qint64(fraction * double(m_track->totalFrames)) : 0;
    }
    enum class Start { Started, Waiting, Failed };
    Start startOutput(qint64 frame);
    void waitForDevice(qint64 frame);
    bool continueAt(qint64 frame, bool announce);
    void moveWaitingStart();
    void movePlayingTrack();
    bool restartAt(qint64 frame, bool announce);
    void giveDeviceBackIfIdle();
    void stopUnit();
    void becomeIdleAfterFailure();
    void endPlayback();
    void fail(FailureKind kind);
    void failUnderTrack(FailureKind kind);
    void onDeviceReady(quint32 deviceId, bool mayTake);
    void onDeviceTaken(quint32 deviceId);

    // The one road by which the state changes; each published flag
    // announces only its own change.
    void setState(PlaybackState state);
    static bool isLoadingState(PlaybackState state)
    {
        return state == PlaybackState::Loading || state == PlaybackState::WaitingForDevice;
    }
    void setCurrentURL(const QUrl &value);
    void setDuration(double value);
    void setSampleRate(double value);
    void publishTrack(const Track &track);

    AudioPlatform &m_platform;
    PlaybackState m_state = PlaybackState::Idle;
    QUrl m_currentURL;
    double m_duration = 0.0;
    double m_sampleRate = 0.0;

    // What the render thread reads; outlives every unit that renders it.
    RenderFeed m_feed;
    DeviceOutput m_output;
    // The track the GUI thread considers current.
    std::unique_ptr<Track> m_track;

    // GUI thread: the render thread's unit has ended by itself (played out
    // or failed); the unit must be restarted to sound again.
    bool m_unitEnded = false;

    // WaitingForDevice: the track starts at this frame on the platform's
    // deviceReady(); started() follows only for a start the caller awaits (a
    // load, a click), not for a move or a resume.
    qint64 m_waitingFrame = 0;
    bool m_announceWhenReady = false;
    PlaybackFailure m_failure;

    // A child; the loads and the read-ahead.
    TrackPipeline *m_pipeline = nullptr;
};
