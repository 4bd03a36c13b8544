#include "BitPerfectAudioPlayer.h"

#include "TrackPath.h"

#include <algorithm>

BitPerfectAudioPlayer::BitPerfectAudioPlayer(AudioPlatform &platform, std::unique_ptr<LoadRunner> loads,
                                             QObject *parent)
    : QObject(parent)
    , m_platform(platform)
    , m_output(platform, m_feed)
    , m_pipeline(new TrackPipeline(std::move(loads), m_feed,
                                   {[this](TrackPipeline::Loaded loaded) { onLoadedToPlay(std::move(loaded)); },
                                    [this](const StreamFormat &format) { m_output.prepare(format); }},
                                   this))
{
    connect(&m_feed, &RenderFeed::newsArrived, this, [this] { collectRenderNews(Announce::Yes); });
    connect(&m_output, &DeviceOutput::failedForGood, this, &BitPerfectAudioPlayer::onOutputFailed);
    connect(&m_output, &DeviceOutput::releaseDue, this, &BitPerfectAudioPlayer::giveDeviceBackIfIdle);
    connect(&m_platform, &AudioPlatform::deviceReady, this, &BitPerfectAudioPlayer::onDeviceReady);
    connect(&m_platform, &AudioPlatform::deviceTaken, this, &BitPerfectAudioPlayer::onDeviceTaken);
}

// No event is handled in here, so no load's result can arrive between the
// output's end and the pipeline's.
BitPerfectAudioPlayer::~BitPerfectAudioPlayer()
{
    stopUnit();
    m_output.handBack();
    delete std::exchange(m_pipeline, nullptr);
    m_track.reset();
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
    setState(PlaybackState::Loading); // nothing sounds while the track loads
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
    if (m_output.hasUnit() && isPlaying() && !m_unitEnded)
        m_feed.postSeek(m_track->serial, frame);
    else if (!continueAt(frame, true))
        return;
    if (isPlaying())
        emit started();
}

bool BitPerfectAudioPlayer::playPreloaded(double startFraction)
{
    stopUnit();
    // Current already if the render thread went on into it meanwhile.
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
    if (!m_output.hasUnit() || !isPlaying() || m_unitEnded)
        return;
    const qint64 unplayed = m_output.stopRendering();
    // The stream may have moved on, or run out, just before it stopped.
    collectRenderNews(Announce::Yes);
    if (!m_output.hasUnit() || !m_track)
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
    if (isPaused() && m_output.resume(frame)) {
        setState(PlaybackState::Playing);
        return true;
    }
    return restartAt(frame, announce);
}

// A start that waits for another program to let the card go shows as
// loading; `announce` says whether started() follows once it sounds.
bool BitPerfectAudioPlayer::restartAt(qint64 frame, bool announce)
{
    stopUnit();
    switch (startOutput(frame)) {
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
    m_output.handBack();
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
    if (m_output.hasUnit() && isPlaying() && !m_unitEnded)
        m_feed.postSeek(m_track->serial, frame);
    else
        m_feed.setFrame(frame);
}

void BitPerfectAudioPlayer::setOutputDevice(quint32 deviceId)
{
    collectRenderNews(Announce::Yes);
    const bool failed = m_output.isFailing();
    const quint32 previous = m_output.deviceId();
    if (!m_output.prefer(deviceId) && !failed)
        return;
    m_pipeline->reclaimOffer(); // what was read ahead fits any device; a start re-offers it
    m_output.dropPrepared();
    if (m_state == PlaybackState::WaitingForDevice && m_track && previous != deviceId)
        moveWaitingStart();
    else if (m_output.hasUnit() && isPlaying() && m_track)
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
    const qint64 unplayed = m_output.stopRendering();
    collectRenderNews(Announce::Yes);
    if (!m_output.hasUnit() || !m_track)
        return;
    const qint64 frame = std::max<qint64>(m_feed.frame(0) - unplayed, 0);
    if (!restartAt(frame, false))
        emit outputFailed();
}

// --- Loading and output -----------------------------------------------------

void BitPerfectAudioPlayer::onLoadedToPlay(TrackPipeline::Loaded loaded)
{
    if (loaded.track) {
        m_track = std::move(loaded.track);
        emit trackInMemory(m_track->url, m_track->block, m_track->format, m_track->totalFrames);
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

// A failure names the device taken by the last start.
BitPerfectAudioPlayer::Start BitPerfectAudioPlayer::startOutput(qint64 frame)
{
    if (!m_track)
        return fail(FailureKind::NoDevice), Start::Failed;
    const DeviceOutput::Opened opened = m_output.open(*m_track, frame);
    switch (opened.how) {
    case DeviceOutput::Opening::Failed:
        fail(opened.why);
        return Start::Failed;
    case DeviceOutput::Opening::Waiting:
        waitForDevice(frame);
        return Start::Waiting;
    case DeviceOutput::Opening::Started:
        break;
    }
    m_unitEnded = false;
    m_pipeline->offerPreload();
    setState(PlaybackState::Playing);
    return Start::Started;
}

// Another program was asked for the device: the track waits in memory for
// its answer (deviceReady()), shown as loading.
void BitPerfectAudioPlayer::waitForDevice(qint64 frame)
{
    m_waitingFrame = std::clamp<qint64>(frame, 0, m_track->totalFrames);
    m_feed.setFrame(m_waitingFrame);
    setState(PlaybackState::WaitingForDevice);
}

void BitPerfectAudioPlayer::stopUnit()
{
    m_output.close();
    // The render thread is gone: a move into the next track it made still
    // counts; an end or a failure belonged to the unit just torn down.
    if (m_feed.collectNews() & RenderFeed::Advanced)
        adoptAdvancedTrack(Announce::No);
    m_pipeline->reclaimOffer();
    m_feed.clear();
    m_unitEnded = false;
    m_output.letGo();
}

// A failure must not be reported as playing: whatever was torn down, the
// player is Idle and says so.
void BitPerfectAudioPlayer::becomeIdleAfterFailure()
{
    endPlayback();
    setDuration(0.0);
    setSampleRate(0.0);
}

// Once nothing plays, the device goes back to other programs.
void BitPerfectAudioPlayer::endPlayback()
{
    stopUnit();
    m_track.reset();
    setState(PlaybackState::Idle);
    m_output.releaseSoon();
}

// Nothing sounds and nothing waits to: the card goes back to the desktop.
void BitPerfectAudioPlayer::giveDeviceBackIfIdle()
{
    if (!isLoading())
        m_output.handBackIfClosed();
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
            m_output.startFailing();
    } else if (news & RenderFeed::PlayedOut) {
        m_unitEnded = true;
        if (announce == Announce::Yes)
            onPlayedOut();
    }
}

void BitPerfectAudioPlayer::adoptAdvancedTrack(Announce announce)
{
    std::unique_ptr<Track> next = m_pipeline->takeAdvanced();
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
    endPlayback();
}

void BitPerfectAudioPlayer::onOutputFailed()
{
    if (m_output.hasUnit() && m_unitEnded)
        failUnderTrack(FailureKind::DeviceLost);
}

// Playback stopped on its own: Idle, which is no end of the track.
void BitPerfectAudioPlayer::failUnderTrack(FailureKind kind)
{
    fail(kind);
    becomeIdleAfterFailure();
    emit outputFailed();
}

// The failure names what it concerns: the device taken by the last start,
// or the track asked for.
void BitPerfectAudioPlayer::fail(FailureKind kind)
{
    const PlaybackFailure failure =
        failureOf(kind, m_output.deviceId(), m_currentURL, m_track ? m_track->format.sampleRate : 0.0);
    if (failure == m_failure)
        return;
    m_failure = failure;
    emit failureChanged();
}

// The other program has answered: the loaded track starts now, or the
// player ends Idle.
void BitPerfectAudioPlayer::onDeviceReady(quint32 deviceId, bool mayTake)
{
    if (m_state != PlaybackState::WaitingForDevice || deviceId != m_output.deviceId())
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
    if (deviceId != m_output.deviceId() || !m_output.hasUnit())
        return;
    if (isPaused()) {
        // Given away while silent: the next start asks for it again.
        stopUnit();
        return;
    }
    failUnderTrack(FailureKind::DeviceTaken);
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
    if (std::exchange(m_currentURL, value) != value)
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
