#pragma once

#include "AudioPlatform.h"
#include "RenderPipe.h"

#include <QByteArray>
#include <alsa/asoundlib.h>
#include <atomic>
#include <chrono>
#include <poll.h>
#include <memory>
#include <optional>
#include <thread>
#include <variant>
#include <vector>

// Any thread. The rate, channels and format in the kernel's record of a hw
// PCM's settings (/proc/asound/cardC/pcmDp/subS/hw_params); nothing when the
// record holds no open stream ("closed") or is cut short.
std::optional<AcceptedSettings> parseKernelHwParams(const QByteArray &text);

// One ALSA playback PCM opened for one track, and the render thread that
// feeds it a period at a time.
class AlsaOutputUnit final : public OutputUnit
{
public:
    // GUI thread. Opens `pcmName` without blocking (a PCM held by another
    // program fails at once with -EBUSY), at exactly the track's rate with
    // ALSA's resampling off, in the track's layout, the narrowest lossless
    // one the PCM takes, or (true floats on a PCM without float only) the
    // widest integer one. The reason, never None, on any refusal; nothing
    // stays open then.
    using Opened = std::variant<std::unique_ptr<AlsaOutputUnit>, DeviceRefusal>;
    static Opened open(const QByteArray &pcmName, const StreamFormat &track, RenderSource &source);
    ~AlsaOutputUnit() override;

    // GUI thread. Prepares the PCM and starts the render thread; false when
    // the PCM refuses (unplugged, failed). Starting a started unit is a no-op.
    bool start() override;
    // GUI thread. Wakes the render thread, joins it (it never sleeps on the
    // device, so this is prompt) and drops what the device still holds.
    // Idempotent.
    qint64 stop() override;
    StreamFormat deviceFormat() const override { return m_pipe->deviceFormat(); }
    AcceptedSettings acceptedSettings() const override { return m_accepted; }

private:
    AlsaOutputUnit(snd_pcm_t *pcm, RenderSource &source, std::unique_ptr<RenderPipe> pipe,
                   snd_pcm_uframes_t periodFrames, int wakeFd);
    void run() noexcept;
    bool writePeriod(quint32 frames) noexcept;
    void takeBackQueued() noexcept;
    bool playOut() noexcept;
    void waitForDevice() noexcept;
    void sleepUnlessWoken(int milliseconds) noexcept;
    bool stopRequested() const noexcept { return m_stopRequested.load(std::memory_order_relaxed); }
    qint64 queuedFrames();

    snd_pcm_t *m_pcm;
    RenderSource &m_source;
    std::unique_ptr<RenderPipe> m_pipe;
    AcceptedSettings m_accepted;
    snd_pcm_uframes_t m_periodFrames;
    std::chrono::microseconds m_bufferTime;
    std::vector<std::byte> m_period;
    // The PCM's poll descriptors followed by m_wakeFd, which stop() makes
    // readable so that no wait outlasts a stop request.
    std::vector<pollfd> m_pollFds;
    int m_wakeFd;
    std::thread m_thread;
    std::atomic<bool> m_stopRequested{false};
    // Set by the render thread; read by stop() after the join.
    std::atomic<bool> m_playedOut{false};
    std::atomic<bool> m_deviceFailed{false};
    // Frames pulled from the source that a stop kept from being written.
    std::atomic<qint64> m_unwrittenFrames{0};
};
