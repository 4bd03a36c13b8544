#pragma once

#include "AudioPlatform.h"
#include "StreamFormat.h"
#include "TrackBlock.h"

#include <QObject>
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
class BitPerfectAudioPlayer : public QObject, private RenderSource
{
    Q_OBJECT
    Q_PROPERTY(bool isPlaying READ isPlaying NOTIFY isPlayingChanged)
    Q_PROPERTY(bool isPaused READ isPaused NOTIFY isPausedChanged)
    Q_PROPERTY(QUrl currentURL READ currentURL NOTIFY currentURLChanged)
    Q_PROPERTY(double duration READ duration NOTIFY durationChanged)
    Q_PROPERTY(double sampleRate READ sampleRate NOTIFY sampleRateChanged)

public:
    // `platform` must outlive the player.
    explicit BitPerfectAudioPlayer(AudioPlatform &platform, QObject *parent = nullptr);
    // Stops the output cleanly: no render call runs after it returns.
    ~BitPerfectAudioPlayer() override;

    bool isPlaying() const { return m_isPlaying; }
    bool isPaused() const { return m_isPaused; }
    QUrl currentURL() const { return m_currentURL; }
    double duration() const { return m_duration; }
    double sampleRate() const { return m_sampleRate; }

    // Stops what plays, loads `url` whole and starts it at frame 0 on the
    // preferred device (else the platform's default). On any failure (no such
    // file, bad data, no device, device busy or refusing the rate or every
    // lossless format) the player is Idle with currentURL set to `url`.
    Q_INVOKABLE void playBitPerfect(const QUrl &url);
    // Playing only: stops output and keeps the track and its position (the
    // first frame that did not sound).
    Q_INVOKABLE void pause();
    // Paused only: continues at the same frame; Idle if the device refuses.
    Q_INVOKABLE void resume();
    // Any state: tears the output down, frees the track; Idle, duration 0.
    Q_INVOKABLE void stop();
    // Any state: moves the position to `seconds` when 0 <= seconds <=
    // duration; anything else (NaN included) is ignored.
    Q_INVOKABLE void seek(double seconds);
    // Routes the next start to `deviceId`; a playing track restarts there at
    // frame 0 (a paused one stays on its device until its next start).
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

private:
    quint32 render(std::byte *out, quint32 frames) noexcept override;
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

    AudioPlatform &m_platform;
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

    // End of track reaches the GUI thread through this eventfd: a write from
    // the render thread allocates nothing, and several ends coalesce.
    int m_endOfTrackFd = -1;
    QSocketNotifier *m_endOfTrackNotifier = nullptr;
};
