#include "BitPerfectAudioPlayer.h"

#include "TrackPath.h"

#include <algorithm>

namespace {
constexpr auto kFailedOutputGrace = std::chrono::milliseconds(500);
// Playback that ended is given a moment before the card goes back to other
// programs: the queue's next start comes within a turn of the event loop,
// and a sound server must not grab the card between two tracks.
constexpr auto kReleaseGrace = std::chrono::milliseconds(300);

bool isLoadingState(BitPerfectAudioPlayer::PlaybackState state)
{
    using State = BitPerfectAudioPlayer::PlaybackState;
    return state == State::Loading || state == State::WaitingForDevice;
}

} // namespace

BitPerfectAudioPlayer::BitPerfectAudioPlayer(AudioPlatform &platform, std::unique_ptr<LoadRunner> loads,
                                             QObject *parent)
    : QObject(parent)
    , m_platform(platform)
    , m_pipeline(new TrackPipeline(std::move(loads), m_feed,
                                   {[this](TrackPipeline::Loaded loaded) { onLoadedToPlay(std::move(loaded)); },
                                    [this](const StreamFormat &format) { prepareOutput(format); }},
                                   this))
{
    connect(&m_feed, &RenderFeed::newsArrived, this, [this] { collectRenderNews(Announce::Yes); });
    m_failedOutputGrace.setSingleShot(true);
    m_failedOutputGrace.setInterval(kFailedOutputGrace);
    connect(&m_failedOutputGrace, &QTimer::timeout, this, &BitPerfectAudioPlayer::onOutputFailed);
    m_releaseGrace.setSingleShot(true);
    m_releaseGrace.setInterval(kReleaseGrace);
    connect(&m_releaseGrace, &QTimer::timeout, this, &BitPerfectAudioPlayer::giveDeviceBackIfIdle);
    connect(&m_platform, &AudioPlatform::deviceReady, this, &BitPerfectAudioPlayer::onDeviceReady);
    connect(&m_platform, &AudioPlatform::deviceTaken, this, &BitPerfectAudioPlayer::onDeviceTaken);
}

// No event is handled in here, so no load's result can arrive between the
// output's end and the pipeline's.
BitPerfectAudioPlayer::~BitPerfectAudioPlayer()
{
    stopUnit();
    if (m_deviceId != 0)
        m_platform.releaseDevice(m_deviceId);
    delete std::exchange(m_pipeline, nullptr);
    m_track.reset();
}

bool BitPerfectAudioPlayer::isLoading() const
{
    return isLoadingState(m_state);
}

qint64 BitPerfectAudioPlayer::totalFrames() const
{
    return m_track ? m_track->totalFrames : 0;
}

qint64 BitPerfectAudioPlayer::currentFrame() const
{
    return m_feed.frame(m_track ? m_track->serial : 0);
}

QUrl BitPerfectAudioPlayer::preloadedURL() const
{
    const Track *ready = m_pipeline->preloaded();
    return ready ? ready->url : QUrl();
}

StreamFormat BitPerfectAudioPlayer::outputFormat() const
{
    return m_unit ? m_unit->deviceFormat() : StreamFormat{};
}

// --- Commands -------------------------------------------------------------

void BitPerfectAudioPlayer::playBitPerfect(const QUrl &url, double startFraction)
{
    // Learn what the render thread did, without announcing it: this call
    // decides what plays next anyway.
    collectRenderNews(Announce::No);
    fail(FailureKind::None);
    startFraction = startFraction > 1.0 ? 1.0 : (startFraction > 0.0 ? startFraction : 0.0);
    if (!playFromMemory(url, startFraction))
        loadToPlay(url, startFraction);
}

void BitPerfectAudioPlayer::loadToPlay(const QUrl &url, double startFraction)
{
    m_pipeline->dropLoadToPlay();
    stopUnit();
    m_track.reset();
    setCurrentURL(url);
    // Nothing sounds while the track loads.
    setState(PlaybackState::Loading);
    m_pipeline->loadToPlay(url, startFraction);
}

// The current track, or the preloaded one, starts from memory when its file
// has not changed since it was read.
bool BitPerfectAudioPlayer::playFromMemory(const QUrl &url, double startFraction)
{
    if (isLoading() || !url.isLocalFile())
        return false;
    const FileStamp stamp = fileStampOf(trackpath::bytesOf(url));
    if (m_track && m_track->url == url && m_track->stamp == stamp) {
        replayCurrent(startFraction);
        return true;
    }
    const Track *ready = m_pipeline->preloaded();
    return ready && ready->url == url && ready->stamp == stamp && playPreloaded(startFraction);
}

void BitPerfectAudioPlayer::replayCurrent(double startFraction)
{
    const qint64 frame = startFrameFor(startFraction);
    if (m_unit && isPlaying() && !m_unitEnded)
        postSeek(frame);
    else if (!continueAt(frame, true))
        return;
    if (isPlaying())
        emit started();
}

bool BitPerfectAudioPlayer::playPreloaded(double startFraction)
{
    stopUnit();
    // The render thread may have gone on into it meanwhile: then it is
    // current already.
    if (std::unique_ptr<Track> ready = m_pipeline->takePreloaded())
        m_track = std::move(ready);
    if (!m_track)
        return false;
    publishTrack(*m_track);
    if (restartAt(startFrameFor(startFraction), true) && isPlaying())
        emit started();
    return true;
}

void BitPerfectAudioPlayer::pause()
{
    collectRenderNews(Announce::Yes);
    if (!m_unit || !isPlaying() || m_unitEnded)
        return;
    const qint64 unplayed = m_unit->stop();
    // The stream may have moved on, or run out, just before it stopped.
    collectRenderNews(Announce::Yes);
    if (!m_unit || !m_track)
        return;
    // Frames dropped from the device buffer never sounded: resume with them.
    const qint64 sounded = std::max<qint64>(m_feed.frame(0) - unplayed, 0);
    m_feed.setFrame(m_feed.takeSeek(m_track->serial).value_or(sounded));
    m_unitEnded = false;
    setState(PlaybackState::Paused);
}

void BitPerfectAudioPlayer::resume()
{
    collectRenderNews(Announce::Yes);
    if (isPaused() && m_track)
        continueAt(m_feed.frame(0), false);
}

// The paused unit goes on when it is still on the device selected now and
// its device takes it back; anything else opens the selected device anew.
bool BitPerfectAudioPlayer::continueAt(qint64 frame, bool announce)
{
    if (m_unit && isPaused() && selectedDevice() == m_deviceId) {
        m_feed.rearm(frame);
        if (m_unit->start()) {
            setState(PlaybackState::Playing);
            return true;
        }
    }
    return restartAt(frame, announce);
}

// A start that waits for another program to let the card go shows as
// loading; `announce` says whether started() follows once it sounds.
bool BitPerfectAudioPlayer::restartAt(qint64 frame, bool announce)
{
    switch (restartOutput(frame)) {
    case Start::Started:
        return true;
    case Start::Waiting:
        m_announceWhenReady = announce;
        return true;
    case Start::Failed:
        break;
    }
    becomeIdleAfterFailure();
    return false;
}

void BitPerfectAudioPlayer::stop()
{
    m_pipeline->dropLoadToPlay();
    m_pipeline->dropPreload();
    stopUnit();
    // Stopped for good: other programs may have the device again.
    m_releaseGrace.stop();
    if (m_deviceId != 0)
        m_platform.releaseDevice(m_deviceId);
    m_track.reset();
    setState(PlaybackState::Idle);
    setDuration(0.0);
    m_feed.setFrame(0);
}

void BitPerfectAudioPlayer::seek(double seconds)
{
    collectRenderNews(Announce::Yes);
    if (m_state == PlaybackState::Loading) {
        m_pipeline->keepSeek(seconds);
        return;
    }
    if (!m_track || !(seconds >= 0.0 && seconds <= m_duration))
        return;
    const auto frame = std::min(qint64(seconds * m_track->format.sampleRate), m_track->totalFrames);
    if (m_state == PlaybackState::WaitingForDevice)
        m_waitingFrame = frame; // the track starts there once the card is ours
    if (m_unit && isPlaying() && !m_unitEnded)
        postSeek(frame);
    else
        m_feed.setFrame(frame);
}

void BitPerfectAudioPlayer::setOutputDevice(quint32 deviceId)
{
    collectRenderNews(Announce::Yes);
    const bool failed = m_failedOutputGrace.isActive();
    const bool moves = m_preferredDeviceId != deviceId || (m_unit && m_deviceId != deviceId);
    m_preferredDeviceId = deviceId;
    if (!moves && !failed)
        return;
    m_pipeline->dropPreload();
    m_readyUnit.reset();
    if (m_state == PlaybackState::WaitingForDevice && m_track && m_deviceId != deviceId)
        moveWaitingStart();
    else if (m_unit && isPlaying() && m_track)
        movePlayingTrack();
}

// A start waiting for another card goes to this one instead; one the caller
// awaits is announced as a start after waiting would have been.
void BitPerfectAudioPlayer::moveWaitingStart()
{
    const bool announce = std::exchange(m_announceWhenReady, false);
    if (!restartAt(m_waitingFrame, announce)) {
        if (!announce)
            emit outputFailed();
    } else if (isPlaying() && announce) {
        emit started();
    }
}

// Carries on from the first frame that did not sound on the old device.
void BitPerfectAudioPlayer::movePlayingTrack()
{
    m_failedOutputGrace.stop();
    const qint64 unplayed = m_unit->stop();
    collectRenderNews(Announce::Yes);
    if (!m_unit || !m_track)
        return;
    const qint64 frame = std::max<qint64>(m_feed.frame(0) - unplayed, 0);
    if (!restartAt(frame, false))
        emit outputFailed();
}

void BitPerfectAudioPlayer::preloadNext(const QUrl &url)
{
    m_pipeline->preload(url);
}

// --- Loading --------------------------------------------------------------

void BitPerfectAudioPlayer::onLoadedToPlay(TrackPipeline::Loaded loaded)
{
    if (loaded.track) {
        m_track = std::move(loaded.track);
        publishTrack(*m_track);
        m_announceWhenReady = true;
        if (startOutput(loaded.startFrame) == Start::Failed)
            becomeIdleAfterFailure();
    } else {
        fail(failureOf(loaded.problem));
        becomeIdleAfterFailure();
    }
    if (isPlaying())
        emit started();
}

qint64 BitPerfectAudioPlayer::startFrameFor(double fraction) const
{
    return m_track ? qint64(fraction * double(m_track->totalFrames)) : 0;
}

// --- Output ---------------------------------------------------------------

std::optional<quint32> BitPerfectAudioPlayer::selectedDevice() const
{
    return m_preferredDeviceId ? m_preferredDeviceId : m_platform.defaultOutputDevice();
}

BitPerfectAudioPlayer::Start BitPerfectAudioPlayer::startOutput(qint64 frame)
{
    const std::optional<quint32> device = selectedDevice();
    if (!device || !m_track)
        return fail(FailureKind::NoDevice), Start::Failed;
    m_deviceId = *device;
    m_releaseGrace.stop();
    if (!m_platform.takeExclusiveUse(m_deviceId)) {
        if (m_platform.lastRefusal() != DeviceRefusal::Waiting)
            return fail(failureOf(m_platform.lastRefusal())), Start::Failed;
        waitForDevice(frame);
        return Start::Waiting;
    }
    if (!m_platform.setNominalSampleRate(m_deviceId, m_track->format.sampleRate))
        return fail(FailureKind::DeviceGone), Start::Failed;
    m_feed.hand(m_track.get(), frame);
    m_unitEnded = false;
    std::unique_ptr<OutputUnit> unit = openUnit();
    if (!unit)
        return Start::Failed;
    m_unit = std::move(unit);
    m_signalPath.set(m_track->format, m_unit->deviceFormat(), m_unit->acceptedSettings());
    m_pipeline->offerPreload();
    setState(PlaybackState::Playing);
    return Start::Started;
}

// The unit made ready while the track decoded, when it is for this device
// and format and still starts (its card may have been given away since);
// else a new one. Null, with the reason, when the device refuses.
std::unique_ptr<OutputUnit> BitPerfectAudioPlayer::openUnit()
{
    std::unique_ptr<OutputUnit> unit = readyUnitFor(m_deviceId, m_track->format);
    if (unit && unit->start())
        return unit;
    unit.reset();
    unit = m_platform.createOutputUnit(m_deviceId, m_track->format, m_feed);
    if (!unit)
        return fail(failureOf(m_platform.lastRefusal())), nullptr;
    if (!unit->start())
        return fail(FailureKind::DeviceGone), nullptr;
    return unit;
}

std::unique_ptr<OutputUnit> BitPerfectAudioPlayer::readyUnitFor(quint32 deviceId, const StreamFormat &format)
{
    std::unique_ptr<OutputUnit> unit = std::move(m_readyUnit);
    if (unit && (m_readyDeviceId != deviceId || !(m_readyFormat == format)))
        unit.reset();
    return unit;
}

// The header gave the track's format while it still decodes: the device is
// taken (asking a sound server to let it go, if need be) and configured now,
// so that it starts the moment the block is complete. What fails here is
// tried again then, and reported then.
void BitPerfectAudioPlayer::prepareOutput(const StreamFormat &format)
{
    const std::optional<quint32> device = selectedDevice();
    if (m_readyUnit || !device)
        return;
    m_deviceId = *device; // what is taken here is given back with it
    if (!m_platform.takeExclusiveUse(m_deviceId) || !m_platform.setNominalSampleRate(m_deviceId, format.sampleRate))
        return;
    m_readyUnit = m_platform.createOutputUnit(m_deviceId, format, m_feed);
    m_readyDeviceId = m_deviceId;
    m_readyFormat = format;
}

// Another program was asked for the device: the track waits in memory for
// its answer (deviceReady()), shown as loading.
void BitPerfectAudioPlayer::waitForDevice(qint64 frame)
{
    m_waitingFrame = std::clamp<qint64>(frame, 0, m_track->totalFrames);
    m_feed.setFrame(m_waitingFrame);
    setState(PlaybackState::WaitingForDevice);
}

BitPerfectAudioPlayer::Start BitPerfectAudioPlayer::restartOutput(qint64 frame)
{
    stopUnit();
    return startOutput(frame);
}

void BitPerfectAudioPlayer::stopUnit()
{
    m_readyUnit.reset();
    if (m_unit) {
        m_unit->stop();
        m_unit.reset();
    }
    m_signalPath.clear();
    // The render thread is gone: a move into the next track it made still
    // counts; an end or a failure belonged to the unit just torn down.
    if (m_feed.collectNews() & RenderFeed::Advanced)
        adoptAdvancedTrack(Announce::No);
    m_pipeline->reclaimOffer();
    m_feed.clear();
    m_unitEnded = false;
    m_failedOutputGrace.stop();
    if (m_deviceId != 0)
        m_platform.giveUpExclusiveUse(m_deviceId);
}

// A failure must not be reported as playing: whatever was torn down, the
// player is Idle and says so.
void BitPerfectAudioPlayer::becomeIdleAfterFailure()
{
    stopUnit();
    m_track.reset();
    setState(PlaybackState::Idle);
    setDuration(0.0);
    setSampleRate(0.0);
    releaseDeviceSoon();
}

void BitPerfectAudioPlayer::releaseDeviceSoon()
{
    m_releaseGrace.start();
}

// Nothing sounds and nothing waits to: the card goes back to the desktop.
void BitPerfectAudioPlayer::giveDeviceBackIfIdle()
{
    if (m_unit || isLoading() || m_deviceId == 0)
        return;
    m_platform.releaseDevice(m_deviceId);
}

void BitPerfectAudioPlayer::postSeek(qint64 frame)
{
    m_feed.postSeek(m_track->serial, frame);
}

// --- What the render thread tells ------------------------------------------

void BitPerfectAudioPlayer::collectRenderNews(Announce announce)
{
    const int news = m_feed.collectNews();
    if (news & RenderFeed::Advanced)
        adoptAdvancedTrack(announce);
    if (news & RenderFeed::DeviceFailed) {
        m_unitEnded = true;
        // Give the device catalogue a moment to hand the track on.
        if (isPlaying())
            m_failedOutputGrace.start();
    } else if (news & RenderFeed::PlayedOut) {
        m_unitEnded = true;
        if (announce == Announce::Yes)
            onPlayedOut();
    }
}

void BitPerfectAudioPlayer::adoptAdvancedTrack(Announce announce)
{
    std::unique_ptr<Track> next = m_feed.takeAdvanced();
    if (!next)
        return;
    // The render thread never reads the old track again.
    m_track = std::move(next);
    publishTrack(*m_track);
    if (announce == Announce::Yes)
        emit advancedToNext();
}

void BitPerfectAudioPlayer::onPlayedOut()
{
    // A seek that came once the track had run dry still plays, from memory.
    if (const std::optional<qint64> seek = m_track ? m_feed.takeSeek(m_track->serial) : std::nullopt) {
        restartAt(*seek, false);
        return;
    }
    stopUnit();
    m_track.reset();
    setState(PlaybackState::Idle);
    releaseDeviceSoon();
}

void BitPerfectAudioPlayer::onOutputFailed()
{
    if (!m_unit || !m_unitEnded)
        return;
    fail(FailureKind::DeviceLost);
    becomeIdleAfterFailure();
    emit outputFailed();
}

// The failure names what it concerns: the device taken by the last start,
// or the track asked for.
void BitPerfectAudioPlayer::fail(FailureKind kind)
{
    PlaybackFailure failure;
    failure.kind = kind;
    if (concernsDevice(kind))
        failure.deviceId = m_deviceId;
    else if (kind != FailureKind::None)
        failure.file = m_currentURL;
    if (kind == FailureKind::RateRefused && m_track)
        failure.sampleRate = m_track->format.sampleRate;
    if (failure == m_failure)
        return;
    m_failure = failure;
    emit failureChanged();
}

// The other program has answered: the loaded track starts now, or the
// player ends Idle.
void BitPerfectAudioPlayer::onDeviceReady(quint32 deviceId, bool mayTake)
{
    if (m_state != PlaybackState::WaitingForDevice || deviceId != m_deviceId)
        return;
    const bool announce = std::exchange(m_announceWhenReady, false);
    if (!mayTake)
        fail(FailureKind::DeviceBusy);
    if (!mayTake || startOutput(m_waitingFrame) == Start::Failed) {
        becomeIdleAfterFailure();
        // A move that cannot go on is no end of the track.
        if (!announce)
            emit outputFailed();
        return;
    }
    if (isPlaying() && announce)
        emit started();
}

// The unit is closed already; like a failed device, this is no end of the
// track.
void BitPerfectAudioPlayer::onDeviceTaken(quint32 deviceId)
{
    if (deviceId != m_deviceId || !m_unit)
        return;
    if (isPaused()) {
        // Given away while silent: the next start asks for it again.
        stopUnit();
        return;
    }
    fail(FailureKind::DeviceTaken);
    becomeIdleAfterFailure();
    emit outputFailed();
}

// --- Published state --------------------------------------------------------

void BitPerfectAudioPlayer::publishTrack(const Track &track)
{
    setCurrentURL(track.url);
    setDuration(double(track.totalFrames) / track.format.sampleRate);
    setSampleRate(track.format.sampleRate);
}

void BitPerfectAudioPlayer::setState(PlaybackState state)
{
    const PlaybackState old = std::exchange(m_state, state);
    if (old == state)
        return;
    if ((old == PlaybackState::Playing) != (state == PlaybackState::Playing))
        emit isPlayingChanged();
    if ((old == PlaybackState::Paused) != (state == PlaybackState::Paused))
        emit isPausedChanged();
    if (isLoadingState(old) != isLoadingState(state))
        emit isLoadingChanged();
    emit stateChanged();
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
