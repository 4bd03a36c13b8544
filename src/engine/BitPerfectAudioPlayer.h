#pragma once

#include "AudioPlatform.h"
#include "StreamFormat.h"
#include "TrackBlock.h"
#include "TrackLoader.h"

#include <QObject>
#include <QThreadPool>
#include <QUrl>
#include <atomic>
#include <memory>
#include <optional>

class QSocketNotifier;

// Plays one track at a time, bit-perfect: the whole file is read into memory,
// the output device is taken for exclusive use at the track's own rate, and a
// render thread copies frames from the block to the device unchanged.
//
// Every public method runs on the GUI thread and reports no error: a failure
// leaves the player Idle (isPlaying and isPaused false, duration and
// sampleRate 0), and the published properties say so. Properties change, and
// their signals fire, on the GUI thread only and only on a real change.
//
// Reading or decoding a long track takes seconds, so by default a worker
// thread loads it while the window stays responsive; the start then runs on
// the GUI thread. Each request carries a generation number: a result whose
// request was superseded or stopped is dropped and freed, never played.
class BitPerfectAudioPlayer : public QObject, private RenderSource
{
    Q_OBJECT
    Q_PROPERTY(bool isPlaying READ isPlaying NOTIFY isPlayingChanged)
    Q_PROPERTY(bool isPaused READ isPaused NOTIFY isPausedChanged)
    Q_PROPERTY(QUrl currentURL READ currentURL NOTIFY currentURLChanged)
    Q_PROPERTY(double duration READ duration NOTIFY durationChanged)
    Q_PROPERTY(double sampleRate READ sampleRate NOTIFY sampleRateChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)

public:
    // Background: playBitPerfect returns at once and the track starts later.
    // Inline: the same load and start run before playBitPerfect returns (for
    // tests and measurements that need the outcome at once).
    enum class LoadMode { Background, Inline };

    // GUI thread. `platform` must outlive the player. Dies (qFatal) only when
    // the process has no file descriptor left for the end-of-track signal.
    explicit BitPerfectAudioPlayer(AudioPlatform &platform, LoadMode mode = LoadMode::Background,
                                   QObject *parent = nullptr);
    // GUI thread. Waits for a load in flight (its result is freed unplayed),
    // then stops the output cleanly: no render call runs after it returns.
    ~BitPerfectAudioPlayer() override;

    bool isPlaying() const { return m_isPlaying; }
    bool isPaused() const { return m_isPaused; }
    QUrl currentURL() const { return m_currentURL; }
    double duration() const { return m_duration; }
    double sampleRate() const { return m_sampleRate; }
    // True from a playBitPerfect call until its load has started or failed,
    // or was superseded or stopped.
    bool isLoading() const { return m_isLoading; }

    // GUI thread. Stops what plays, publishes currentURL (isPlaying and
    // isPaused turn false, isLoading true; duration and sampleRate keep their
    // values until the load ends), loads `url` whole, then starts it at
    // `startFraction` of its frames (clamped to 0...1, NaN as 0) on the
    // preferred device (else the platform's default) and emits started().
    // On any failure (no such file, bad data, no device, device busy or
    // refusing the rate or every lossless format) the player ends Idle with
    // currentURL set to `url`. A newer call or stop() supersedes a load in
    // flight: its track is never played.
    Q_INVOKABLE void playBitPerfect(const QUrl &url, double startFraction);
    Q_INVOKABLE void playBitPerfect(const QUrl &url) { playBitPerfect(url, 0.0); }
    // GUI thread. Playing only: stops output and keeps the track and its
    // position (the first frame that did not sound). Nothing otherwise,
    // loading included.
    Q_INVOKABLE void pause();
    // GUI thread. Paused only: continues at the same frame; Idle if the
    // device refuses. Nothing otherwise, loading included.
    Q_INVOKABLE void resume();
    // GUI thread. Any state: drops a load in flight, tears the output down,
    // frees the track; Idle, duration 0. Cannot fail.
    Q_INVOKABLE void stop();
    // GUI thread. Moves the position to `seconds` when 0 <= seconds <=
    // duration; anything else (NaN included) is ignored. While loading, the
    // last such call is kept and replaces the start fraction when it lies
    // within the loaded track, and is ignored otherwise.
    Q_INVOKABLE void seek(double seconds);
    // GUI thread. Routes the next start to `deviceId`; a playing track
    // reloads and restarts there at frame 0, a loading one starts there, a
    // paused one stays on its device until its next start. A device that
    // refuses shows at the start, which leaves the player Idle.
    Q_INVOKABLE void setOutputDevice(quint32 deviceId);

    // The layout the running unit feeds the device; equals the track's own
    // format unless the device needed a lossless conversion. Invalid when no
    // unit exists.
    StreamFormat outputFormat() const;
    // The device taken by the last start; 0 before any.
    quint32 deviceId() const { return m_deviceId; }
    // The next frame to be rendered.
    qint64 currentFrame() const { return m_currentFrame.load(std::memory_order_relaxed); }
    qint64 totalFrames() const { return m_totalFrames; }

signals:
    void isPlayingChanged();
    void isPausedChanged();
    void currentURLChanged();
    void durationChanged();
    void sampleRateChanged();
    void isLoadingChanged();
    // GUI thread: a load's output has started (isPlaying is already true).
    void started();

private:
    quint32 render(std::byte *out, quint32 frames) noexcept override;
    void loadInBackground(quint64 generation, const QString &path);
    void finishLoad(quint64 generation, std::optional<LoadedTrack> track);
    void startLoaded(LoadedTrack track);
    void placeStartFrame();
    void dropPendingLoad();
    bool startOutput();
    void stopUnit();
    void becomeIdleAfterFailure();
    void onEndOfTrack();
    bool clearEndOfTrackSignal();

    void setPlaying(bool value);
    void setPaused(bool value);
    void setCurrentURL(const QUrl &value);
    void setDuration(double value);
    void setSampleRate(double value);
    void setLoading(bool value);

    AudioPlatform &m_platform;
    const LoadMode m_loadMode;
    bool m_isLoading = false;
    bool m_isPlaying = false;
    bool m_isPaused = false;
    QUrl m_currentURL;
    double m_duration = 0.0;
    double m_sampleRate = 0.0;

    // Written only while no unit exists; the render thread reads them.
    std::unique_ptr<OutputUnit> m_unit;
    TrackBlock m_block;
    StreamFormat m_format;
    qint64 m_totalFrames = 0;
    // The one field both threads write; a relaxed atomic is all it needs.
    std::atomic<qint64> m_currentFrame{0};

    quint32 m_deviceId = 0;
    std::optional<quint32> m_preferredDeviceId;

    // The newest request's number; a result of any other is dropped, and a
    // queued load that a newer request made useless is skipped.
    std::atomic<quint64> m_generation{0};
    double m_startFraction = 0.0;
    std::optional<double> m_seekWhileLoading;

    // End of track reaches the GUI thread through this eventfd: a write from
    // the render thread allocates nothing, and several ends coalesce.
    int m_endOfTrackFd = -1;
    QSocketNotifier *m_endOfTrackNotifier = nullptr;

    // One worker: a newer request waits for the load in flight, which then
    // finds itself superseded. Declared last so that it is destroyed first.
    QThreadPool m_loads;
};
