#include "BitPerfectAudioPlayer.h"

#include "ThreadHandover.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <sys/eventfd.h>
#include <unistd.h>

BitPerfectAudioPlayer::BitPerfectAudioPlayer(AudioPlatform &platform, LoadMode mode, QObject *parent)
    : QObject(parent)
    , m_platform(platform)
    , m_loadMode(mode)
    , m_endOfTrackFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (m_endOfTrackFd < 0)
        qFatal("BitPerfectAudioPlayer: eventfd failed"); // no way to learn of a track's end
    m_endOfTrackNotifier = new QSocketNotifier(m_endOfTrackFd, QSocketNotifier::Read, this);
    connect(m_endOfTrackNotifier, &QSocketNotifier::activated, this,
            &BitPerfectAudioPlayer::onEndOfTrack);
    m_loads.setMaxThreadCount(1);
}

BitPerfectAudioPlayer::~BitPerfectAudioPlayer()
{
    // The worker posts to this object, so it must be done before the object
    // goes; a result it posted dies, unplayed, with the posted events.
    m_generation.fetch_add(1, std::memory_order_relaxed);
    handover::waitForDone(m_loads);
    stopUnit();
    delete m_endOfTrackNotifier;
    close(m_endOfTrackFd);
}

void BitPerfectAudioPlayer::playBitPerfect(const QUrl &url, double startFraction)
{
    stopUnit();
    setCurrentURL(url);
    // Nothing sounds while the track loads.
    setPlaying(false);
    setPaused(false);
    const quint64 generation = m_generation.fetch_add(1, std::memory_order_relaxed) + 1;
    m_startFraction = startFraction;
    m_seekWhileLoading.reset();
    setLoading(true);
    const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
    if (m_loadMode == LoadMode::Inline)
        finishLoad(generation, loadTrack(path));
    else
        loadInBackground(generation, path);
}

void BitPerfectAudioPlayer::loadInBackground(quint64 generation, const QString &path)
{
    handover::start(m_loads, [this, generation, path] {
        if (m_generation.load(std::memory_order_relaxed) != generation)
            return; // a newer request came while this one waited
        // Superseded on the way, the result is dropped by finishLoad.
        auto track = std::make_shared<std::optional<LoadedTrack>>(loadTrack(path));
        QMetaObject::invokeMethod(
            this,
            handover::Queued([this, generation, track] { finishLoad(generation, std::move(*track)); }),
            Qt::QueuedConnection);
    });
}

void BitPerfectAudioPlayer::finishLoad(quint64 generation, std::optional<LoadedTrack> track)
{
    if (generation != m_generation.load(std::memory_order_relaxed))
        return; // superseded: the track is freed here, unplayed
    if (track)
        startLoaded(std::move(*track));
    else
        becomeIdleAfterFailure();
    const bool hasStarted = m_isPlaying;
    setLoading(false);
    if (hasStarted)
        emit started();
}

void BitPerfectAudioPlayer::startLoaded(LoadedTrack track)
{
    m_block = std::move(track.block);
    m_format = track.format;
    m_totalFrames = track.totalFrames;
    setDuration(double(m_totalFrames) / m_format.sampleRate);
    setSampleRate(m_format.sampleRate);
    placeStartFrame();
    if (!startOutput())
        becomeIdleAfterFailure();
}

// A seek made while loading names a time in the track now known; it wins
// over the start fraction when it lies within the track.
void BitPerfectAudioPlayer::placeStartFrame()
{
    const double fraction = m_startFraction >= 0.0 ? std::min(m_startFraction, 1.0) : 0.0;
    m_currentFrame.store(qint64(fraction * double(m_totalFrames)), std::memory_order_relaxed);
    const std::optional<double> seconds = std::exchange(m_seekWhileLoading, std::nullopt);
    if (seconds && *seconds >= 0.0 && *seconds <= m_duration)
        m_currentFrame.store(qint64(*seconds * m_format.sampleRate), std::memory_order_relaxed);
}

void BitPerfectAudioPlayer::dropPendingLoad()
{
    if (!m_isLoading)
        return;
    m_generation.fetch_add(1, std::memory_order_relaxed);
    m_seekWhileLoading.reset();
    setLoading(false);
}

bool BitPerfectAudioPlayer::startOutput()
{
    const std::optional<quint32> device =
        m_preferredDeviceId ? m_preferredDeviceId : m_platform.defaultOutputDevice();
    if (!device)
        return false;
    m_deviceId = *device;
    if (!m_platform.takeExclusiveUse(m_deviceId)
        || !m_platform.setNominalSampleRate(m_deviceId, m_format.sampleRate))
        return false;
    auto unit = m_platform.createOutputUnit(m_deviceId, m_format, *this);
    if (!unit || !unit->start())
        return false;
    m_unit = std::move(unit);
    setPlaying(true);
    setPaused(false);
    return true;
}

void BitPerfectAudioPlayer::stopUnit()
{
    if (m_unit) {
        m_unit->stop();
        m_unit.reset();
    }
    // The unit is gone, so any end it signalled belongs to the old track.
    [[maybe_unused]] const bool hadEnded = clearEndOfTrackSignal();
    m_block = TrackBlock();
    if (m_deviceId != 0)
        m_platform.giveUpExclusiveUse(m_deviceId);
}

// A failure must not be reported as playing: whatever was torn down, the
// player is Idle and says so.
void BitPerfectAudioPlayer::becomeIdleAfterFailure()
{
    stopUnit();
    setPlaying(false);
    setPaused(false);
    setDuration(0.0);
    setSampleRate(0.0);
}

void BitPerfectAudioPlayer::stop()
{
    dropPendingLoad();
    stopUnit();
    setPlaying(false);
    setPaused(false);
    setDuration(0.0);
    m_currentFrame.store(0, std::memory_order_relaxed);
}

void BitPerfectAudioPlayer::pause()
{
    if (!m_unit || !m_isPlaying)
        return;
    // Frames dropped from the device buffer never sounded: resume with them.
    const qint64 unplayed = m_unit->stop();
    const qint64 frame = m_currentFrame.load(std::memory_order_relaxed);
    m_currentFrame.store(std::max<qint64>(frame - unplayed, 0), std::memory_order_relaxed);
    setPlaying(false);
    setPaused(true);
}

void BitPerfectAudioPlayer::resume()
{
    if (!m_unit || !m_isPaused)
        return;
    if (!m_unit->start()) {
        becomeIdleAfterFailure();
        return;
    }
    setPlaying(true);
    setPaused(false);
}

void BitPerfectAudioPlayer::seek(double seconds)
{
    if (m_isLoading) {
        m_seekWhileLoading = seconds;
        return;
    }
    if (!(seconds >= 0.0 && seconds <= m_duration))
        return;
    m_currentFrame.store(qint64(seconds * m_format.sampleRate), std::memory_order_relaxed);
}

void BitPerfectAudioPlayer::setOutputDevice(quint32 deviceId)
{
    m_preferredDeviceId = deviceId;
    if (!m_currentURL.isEmpty() && m_isPlaying)
        playBitPerfect(m_currentURL);
}

StreamFormat BitPerfectAudioPlayer::outputFormat() const
{
    return m_unit ? m_unit->deviceFormat() : StreamFormat{};
}

quint32 BitPerfectAudioPlayer::render(std::byte *out, quint32 frames) noexcept
{
    const std::byte *block = m_block.data();
    if (!out || !block)
        return 0;
    const qint64 current = m_currentFrame.load(std::memory_order_relaxed);
    const qint64 n = std::min<qint64>(m_totalFrames - current, frames);
    if (n < 1) {
        const eventfd_t one = 1;
        [[maybe_unused]] const ssize_t ignored = write(m_endOfTrackFd, &one, sizeof one);
        return 0;
    }
    const std::size_t frameBytes = m_format.bytesPerFrame();
    std::memcpy(out, block + std::size_t(current) * frameBytes, std::size_t(n) * frameBytes);
    // Read anew: a seek that landed during this call is shifted by n, not lost.
    m_currentFrame.store(m_currentFrame.load(std::memory_order_relaxed) + n,
                         std::memory_order_relaxed);
    return quint32(n);
}

void BitPerfectAudioPlayer::onEndOfTrack()
{
    // The notifier may fire after a new start already cleared the signal of
    // the old track's end; that end must not stop the new track.
    if (!clearEndOfTrackSignal())
        return;
    stopUnit();
    setPlaying(false);
    setPaused(false);
}

bool BitPerfectAudioPlayer::clearEndOfTrackSignal()
{
    eventfd_t count = 0;
    return read(m_endOfTrackFd, &count, sizeof count) == sizeof count && count > 0;
}

void BitPerfectAudioPlayer::setPlaying(bool value)
{
    if (std::exchange(m_isPlaying, value) != value)
        emit isPlayingChanged();
}

void BitPerfectAudioPlayer::setPaused(bool value)
{
    if (std::exchange(m_isPaused, value) != value)
        emit isPausedChanged();
}

void BitPerfectAudioPlayer::setCurrentURL(const QUrl &value)
{
    if (m_currentURL == value)
        return;
    m_currentURL = value;
    emit currentURLChanged();
}

void BitPerfectAudioPlayer::setDuration(double value)
{
    if (std::exchange(m_duration, value) != value)
        emit durationChanged();
}

void BitPerfectAudioPlayer::setSampleRate(double value)
{
    if (std::exchange(m_sampleRate, value) != value)
        emit sampleRateChanged();
}

void BitPerfectAudioPlayer::setLoading(bool value)
{
    if (std::exchange(m_isLoading, value) != value)
        emit isLoadingChanged();
}
