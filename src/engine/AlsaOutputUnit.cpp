#include "AlsaOutputUnit.h"

#include "SampleFormats.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <optional>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <system_error>

namespace {

// The buffer is long enough to ride out scheduling hiccups, short enough that
// a pause or a stop loses little. A seek takes back what the buffer holds and
// reaches the device with the next period the render thread writes.
constexpr unsigned kBufferMicroseconds = 200'000;
constexpr unsigned kPeriodMicroseconds = 20'000;
// The longest the render thread waits on the PCM's descriptors before it
// looks again; a stop wakes it sooner.
constexpr int kWaitMilliseconds = 100;

struct PcmCloser
{
    void operator()(snd_pcm_t *pcm) const { snd_pcm_close(pcm); }
};
using PcmHandle = std::unique_ptr<snd_pcm_t, PcmCloser>;

PcmHandle openNonBlocking(const QByteArray &name, int *error)
{
    snd_pcm_t *pcm = nullptr;
    *error = snd_pcm_open(&pcm, name.constData(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    return *error < 0 ? PcmHandle() : PcmHandle(pcm);
}

DeviceRefusal openFailure(int error)
{
    return error == -EBUSY || error == -EAGAIN ? DeviceRefusal::Busy : DeviceRefusal::Gone;
}

DeviceRefusal restrictRateAndChannels(snd_pcm_t *pcm, snd_pcm_hw_params_t *params,
                                      const StreamFormat &track)
{
    const double rate = track.sampleRate;
    if (snd_pcm_hw_params_any(pcm, params) < 0
        || snd_pcm_hw_params_set_access(pcm, params, SND_PCM_ACCESS_RW_INTERLEAVED) < 0
        || snd_pcm_hw_params_set_rate_resample(pcm, params, 0) < 0)
        return DeviceRefusal::Gone;
    if (snd_pcm_hw_params_set_channels(pcm, params, track.channels) < 0)
        return DeviceRefusal::Format;
    if (rate != std::floor(rate) || snd_pcm_hw_params_set_rate(pcm, params, unsigned(rate), 0) < 0)
        return DeviceRefusal::Rate;
    return DeviceRefusal::None;
}

// The first layout the PCM accepts: lossless ones narrowest first, then, for
// a true-float track on a PCM without float, the widest integer one.
std::optional<StreamFormat> chooseLayout(snd_pcm_t *pcm, snd_pcm_hw_params_t *params,
                                         const StreamFormat &track)
{
    for (const StreamFormat &candidate : sampleformats::outputCandidates(track)) {
        const snd_pcm_format_t format = sampleformats::alsaFormat(candidate);
        if (format != SND_PCM_FORMAT_UNKNOWN && snd_pcm_hw_params_test_format(pcm, params, format) == 0
            && snd_pcm_hw_params_set_format(pcm, params, format) >= 0)
            return candidate;
    }
    return std::nullopt;
}

// What the configured PCM reports; a rate between two whole numbers is
// reported as 0 (never taken).
AcceptedSettings readBack(snd_pcm_hw_params_t *params)
{
    AcceptedSettings accepted;
    snd_pcm_format_t format;
    unsigned rate = 0, channels = 0;
    int dir = 0;
    if (snd_pcm_hw_params_get_format(params, &format) >= 0)
        accepted.format = QString::fromLatin1(snd_pcm_format_name(format));
    if (snd_pcm_hw_params_get_rate(params, &rate, &dir) >= 0 && dir == 0)
        accepted.rate = rate;
    if (snd_pcm_hw_params_get_channels(params, &channels) >= 0)
        accepted.channels = channels;
    return accepted;
}

// For a hardware PCM the kernel keeps its own record of what the card was
// set to; it has the last word over the library's.
void readKernelRecord(snd_pcm_t *pcm, AcceptedSettings *accepted)
{
    snd_pcm_info_t *info;
    snd_pcm_info_alloca(&info);
    if (snd_pcm_type(pcm) != SND_PCM_TYPE_HW || snd_pcm_info(pcm, info) < 0
        || snd_pcm_info_get_card(info) < 0)
        return;
    QFile record(QStringLiteral("/proc/asound/card%1/pcm%2p/sub%3/hw_params")
                     .arg(snd_pcm_info_get_card(info))
                     .arg(snd_pcm_info_get_device(info))
                     .arg(snd_pcm_info_get_subdevice(info)));
    if (!record.open(QIODevice::ReadOnly))
        return;
    if (const std::optional<AcceptedSettings> kernel = parseKernelHwParams(record.read(4096)))
        *accepted = *kernel;
}

// A driver may round what it was asked for; anything but the exact rate,
// channel count and layout is refused rather than played.
bool tookExactly(const AcceptedSettings &accepted, const StreamFormat &wanted)
{
    return accepted.format == QLatin1String(snd_pcm_format_name(sampleformats::alsaFormat(wanted)))
           && double(accepted.rate) == wanted.sampleRate && accepted.channels == wanted.channels;
}

struct HardwareSetup
{
    StreamFormat layout;
    snd_pcm_uframes_t periodFrames = 0;
    AcceptedSettings accepted;
};

// A ladder of named steps; the first that fails says why the device is
// refused.
std::variant<HardwareSetup, DeviceRefusal> configureHardware(snd_pcm_t *pcm, const StreamFormat &track)
{
    snd_pcm_hw_params_t *params;
    snd_pcm_hw_params_alloca(&params);
    if (const DeviceRefusal why = restrictRateAndChannels(pcm, params, track); why != DeviceRefusal::None)
        return why;
    HardwareSetup setup;
    const std::optional<StreamFormat> layout = chooseLayout(pcm, params, track);
    if (!layout)
        return DeviceRefusal::Format;
    setup.layout = *layout;
    unsigned bufferTime = kBufferMicroseconds, periodTime = kPeriodMicroseconds;
    snd_pcm_hw_params_set_buffer_time_near(pcm, params, &bufferTime, nullptr);
    snd_pcm_hw_params_set_period_time_near(pcm, params, &periodTime, nullptr);
    if (snd_pcm_hw_params(pcm, params) < 0)
        return DeviceRefusal::Gone;
    setup.accepted = readBack(params);
    readKernelRecord(pcm, &setup.accepted);
    if (!tookExactly(setup.accepted, *layout))
        return DeviceRefusal::Format;
    if (snd_pcm_hw_params_get_period_size(params, &setup.periodFrames, nullptr) < 0
        || setup.periodFrames == 0)
        return DeviceRefusal::Gone;
    return setup;
}

bool configureSoftware(snd_pcm_t *pcm, snd_pcm_uframes_t periodFrames)
{
    snd_pcm_sw_params_t *params;
    snd_pcm_sw_params_alloca(&params);
    snd_pcm_uframes_t bufferFrames = 0, unused = 0;
    snd_pcm_get_params(pcm, &bufferFrames, &unused);
    // Start once the buffer is full so the first periods cannot underrun.
    return snd_pcm_sw_params_current(pcm, params) >= 0
           && snd_pcm_sw_params_set_start_threshold(pcm, params, bufferFrames) >= 0
           && snd_pcm_sw_params_set_avail_min(pcm, params, periodFrames) >= 0
           && snd_pcm_sw_params(pcm, params) >= 0;
}

} // namespace

std::optional<AcceptedSettings> parseKernelHwParams(const QByteArray &text)
{
    AcceptedSettings accepted;
    accepted.fromKernel = true;
    for (const QByteArray &line : text.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray key = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + 1).trimmed();
        const QByteArray number = value.split(' ').constFirst();
        if (key == "format")
            accepted.format = QString::fromLatin1(value);
        else if (key == "rate")
            accepted.rate = number.toUInt();
        else if (key == "channels")
            accepted.channels = number.toUInt();
    }
    // "closed" and a half-written record have no format, rate or channels.
    if (accepted.format.isEmpty() || accepted.rate == 0 || accepted.channels == 0)
        return std::nullopt;
    return accepted;
}

AlsaOutputUnit::Opened AlsaOutputUnit::open(const QByteArray &pcmName, const StreamFormat &track,
                                             RenderSource &source)
{
    if (!track.isValid())
        return DeviceRefusal::Format;
    int error = 0;
    PcmHandle pcm = openNonBlocking(pcmName, &error);
    if (!pcm)
        return openFailure(error);
    std::variant<HardwareSetup, DeviceRefusal> configured = configureHardware(pcm.get(), track);
    if (const auto *why = std::get_if<DeviceRefusal>(&configured))
        return *why;
    const HardwareSetup &setup = std::get<HardwareSetup>(configured);
    if (setup.periodFrames > (1u << 20) || !configureSoftware(pcm.get(), setup.periodFrames))
        return DeviceRefusal::Gone;
    const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0)
        return DeviceRefusal::Gone;
    auto pipe = std::make_unique<RenderPipe>(source, track, setup.layout, quint32(setup.periodFrames));
    std::unique_ptr<AlsaOutputUnit> unit(
        new AlsaOutputUnit(pcm.release(), source, std::move(pipe), setup.periodFrames, wakeFd));
    unit->m_accepted = setup.accepted;
    return unit;
}

AlsaOutputUnit::AlsaOutputUnit(snd_pcm_t *pcm, RenderSource &source, std::unique_ptr<RenderPipe> pipe,
                               snd_pcm_uframes_t periodFrames, int wakeFd)
    : m_pcm(pcm)
    , m_source(source)
    , m_pipe(std::move(pipe))
    , m_periodFrames(periodFrames)
    , m_period(periodFrames * m_pipe->deviceFormat().bytesPerFrame())
    , m_wakeFd(wakeFd)
{
    snd_pcm_uframes_t bufferFrames = 0, unused = 0;
    snd_pcm_get_params(m_pcm, &bufferFrames, &unused);
    m_bufferTime = std::chrono::microseconds(
        qint64(1e6 * double(bufferFrames) / m_pipe->deviceFormat().sampleRate));
    const int count = std::max(snd_pcm_poll_descriptors_count(m_pcm), 0);
    m_pollFds.resize(std::size_t(count) + 1);
    const int filled = snd_pcm_poll_descriptors(m_pcm, m_pollFds.data(), unsigned(count));
    m_pollFds.resize(std::size_t(std::max(filled, 0)) + 1);
    m_pollFds.back() = {m_wakeFd, POLLIN, 0};
}

AlsaOutputUnit::~AlsaOutputUnit()
{
    stop();
    snd_pcm_close(m_pcm);
    close(m_wakeFd);
}

bool AlsaOutputUnit::start()
{
    if (m_thread.joinable())
        return true;
    if (m_deviceFailed.load() || snd_pcm_prepare(m_pcm) < 0)
        return false;
    eventfd_t stale = 0;
    [[maybe_unused]] const int cleared = eventfd_read(m_wakeFd, &stale);
    m_stopRequested.store(false);
    m_playedOut.store(false);
    m_unwrittenFrames.store(0);
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error &) {
        return false; // no thread to render on
    }
    return true;
}

qint64 AlsaOutputUnit::stop()
{
    if (!m_thread.joinable())
        return 0;
    m_stopRequested.store(true);
    [[maybe_unused]] const int woken = eventfd_write(m_wakeFd, 1);
    m_thread.join();
    qint64 unplayed = 0;
    if (!m_playedOut.load() && !m_deviceFailed.load())
        unplayed = m_unwrittenFrames.load() + queuedFrames();
    snd_pcm_drop(m_pcm);
    return unplayed;
}

// Frames in the device buffer that have not sounded yet.
qint64 AlsaOutputUnit::queuedFrames()
{
    snd_pcm_sframes_t delay = 0;
    return snd_pcm_delay(m_pcm, &delay) == 0 ? std::max<qint64>(delay, 0) : 0;
}

void AlsaOutputUnit::run() noexcept
{
    pthread_setname_np(pthread_self(), "quorvel-render");
    const auto frames = quint32(m_periodFrames);
    while (!stopRequested()) {
        if (m_source.applyPendingSeek())
            takeBackQueued();
        if (m_pipe->pull(m_period.data(), frames) == 0) {
            // The source ran dry; its last frames are written.
            if (playOut()) {
                m_playedOut.store(true);
                m_source.renderStopped(RenderEnd::PlayedOut);
            }
            return;
        }
        if (!writePeriod(frames)) {
            if (m_deviceFailed.load())
                m_source.renderStopped(RenderEnd::DeviceFailed);
            return;
        }
    }
}

bool AlsaOutputUnit::writePeriod(quint32 frames) noexcept
{
    const std::size_t frameBytes = m_pipe->deviceFormat().bytesPerFrame();
    snd_pcm_uframes_t done = 0;
    while (done < frames) {
        if (stopRequested()) {
            m_unwrittenFrames.store(qint64(frames - done));
            return false;
        }
        const snd_pcm_sframes_t result =
            snd_pcm_writei(m_pcm, m_period.data() + done * frameBytes, frames - done);
        if (result > 0) {
            done += snd_pcm_uframes_t(result);
        } else if (result == 0 || result == -EAGAIN) {
            waitForDevice();
        } else if (snd_pcm_recover(m_pcm, int(result), 1) < 0) {
            // Unplugged (-ENODEV) or otherwise dead; underruns and suspends
            // recovered above.
            m_deviceFailed.store(true);
            return false;
        }
    }
    return true;
}

// After a seek, what the device holds of the old position has not sounded
// and never should: it is rewound where the PCM allows, else dropped (the
// stream restarts once the render thread has refilled the buffer, which it
// does from memory at once).
void AlsaOutputUnit::takeBackQueued() noexcept
{
    snd_pcm_sframes_t queued = 0;
    if (snd_pcm_delay(m_pcm, &queued) < 0 || queued <= snd_pcm_sframes_t(m_periodFrames))
        return; // nothing worth taking back, or not running yet
    const snd_pcm_sframes_t rewindable = snd_pcm_rewindable(m_pcm);
    if (rewindable >= queued - snd_pcm_sframes_t(m_periodFrames)
        && snd_pcm_rewind(m_pcm, snd_pcm_uframes_t(rewindable)) >= 0)
        return;
    snd_pcm_drop(m_pcm);
    snd_pcm_prepare(m_pcm);
}

// Lets the frames in the device buffer sound, like a blocking drain, but
// stays responsive to a stop and gives up after a buffer's worth of time
// plus a margin, so that a device that stopped consuming cannot hold the
// stream forever. False when a stop came first.
bool AlsaOutputUnit::playOut() noexcept
{
    if (snd_pcm_drain(m_pcm) != -EAGAIN)
        return !stopRequested(); // drained already (or failed): nothing to wait for
    const auto deadline = std::chrono::steady_clock::now() + m_bufferTime + std::chrono::milliseconds(100);
    while (std::chrono::steady_clock::now() < deadline) {
        if (stopRequested())
            return false;
        snd_pcm_avail_update(m_pcm);
        if (snd_pcm_state(m_pcm) != SND_PCM_STATE_DRAINING)
            break;
        sleepUnlessWoken(2);
    }
    return !stopRequested();
}

// Until the device takes frames again or a stop is requested; a bounded
// wait, so that a device whose descriptors never fire is looked at again.
void AlsaOutputUnit::waitForDevice() noexcept
{
    for (pollfd &fd : m_pollFds)
        fd.revents = 0;
    if (poll(m_pollFds.data(), nfds_t(m_pollFds.size()), kWaitMilliseconds) <= 0)
        return;
    // Plugins acknowledge their wake-ups here (a timer is read, say); without
    // this call their descriptors would stay ready and the wait would spin.
    unsigned short revents = 0;
    snd_pcm_poll_descriptors_revents(m_pcm, m_pollFds.data(), unsigned(m_pollFds.size() - 1), &revents);
}

void AlsaOutputUnit::sleepUnlessWoken(int milliseconds) noexcept
{
    pollfd wake{m_wakeFd, POLLIN, 0};
    [[maybe_unused]] const int ready = poll(&wake, 1, milliseconds);
}
