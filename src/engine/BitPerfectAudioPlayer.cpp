#include "BitPerfectAudioPlayer.h"

#include "TrackPath.h"

#include <algorithm>

namespace {
constexpr auto kFailedOutputGrace = std::chrono::milliseconds(500);
// Playback that ended is given a moment before the card goes back to other
// programs: the queue's next start comes within a turn of the event loop,
// and a sound server must not grab the card between two tracks.
constexpr auto kReleaseGrace = std::chrono::milliseconds(300);
// The longest a load may take before it counts as hung: far beyond what the
// largest track the block can hold (4 GiB of float) takes to decode on a busy
// machine, since giving up on a real track is worse than waiting for it.
constexpr auto kLoadPatience = std::chrono::minutes(2);

} // namespace

BitPerfectAudioPlayer::BitPerfectAudioPlayer(AudioPlatform &platform, LoadMode mode,
                                             TrackLoadWorker::LoadFunction load, QObject *parent)
    : QObject(parent)
    , m_platform(platform)
    , m_loadMode(mode)
    , m_load(std::move(load))
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
    m_loads = new TrackLoadWorker(
        m_load,
        [this](quint64 ticket, TrackLoadWorker::Result result) {
            onLoadFinished(ticket, std::move(result));
        },
        kLoadPatience, this);
    if (m_loadMode == LoadMode::Background)
        m_loads->setFormatProbe(loadedFormatOf, [this](quint64 ticket, const StreamFormat &format) {
            prepareOutput(ticket, format);
        });
}

BitPerfectAudioPlayer::~BitPerfectAudioPlayer()
{
    delete std::exchange(m_loads, nullptr);
    stopUnit();
    if (m_deviceId != 0)
        m_platform.handBackToDesktop(m_deviceId);
    freeTracks();
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
    return m_preloaded ? m_preloaded->url : QUrl();
}

// --- Commands -------------------------------------------------------------

void BitPerfectAudioPlayer::playBitPerfect(const QUrl &url, double startFraction)
{
    // Learn what the render thread did, without announcing it: this call
    // decides what plays next anyway.
    collectRenderNews(Announce::No);
    fail(PlaybackFailure::None);
    startFraction = startFraction > 1.0 ? 1.0 : (startFraction > 0.0 ? startFraction : 0.0);
    if (playFromMemory(url, startFraction))
        return;

    dropPendingLoad();
    stopUnit();
    m_track.reset();
    setCurrentURL(url);
    // Nothing sounds while the track loads.
    setPlaying(false);
    setPaused(false);
    m_startFraction = startFraction;
    m_seekWhileLoading.reset();
    setLoading(true);
    if (m_preloadTicket != 0 && m_preloadingURL == url) {
        // The file is being read already: that load now starts the track.
        m_playTicket = std::exchange(m_preloadTicket, 0);
        m_preloadingURL.clear();
        m_loads->promote(m_playTicket);
        return;
    }
    dropPreload();
    loadToPlay(trackpath::bytesOf(url));
}

// The current track, or the preloaded one, starts from memory when its file
// has not changed since it was read.
bool BitPerfectAudioPlayer::playFromMemory(const QUrl &url, double startFraction)
{
    if (m_isLoading || !url.isLocalFile())
        return false;
    const FileStamp stamp = fileStampOf(trackpath::bytesOf(url));
    if (m_track && m_track->url == url && m_track->stamp == stamp) {
        const qint64 frame = startFrameFor(startFraction);
        if (m_unit && m_isPlaying && !m_unitEnded)
            postSeek(frame);
        else if (!continueAt(frame, true))
            return true;
        if (m_isPlaying)
            emit started();
        return true;
    }
    if (!m_preloaded || m_preloaded->url != url || m_preloaded->stamp != stamp)
        return false;
    stopUnit();
    if (m_preloaded) // the render thread may have gone on into it meanwhile
        m_track = std::move(m_preloaded);
    publishTrack(*m_track);
    if (restartAt(startFrameFor(startFraction), true) && m_isPlaying)
        emit started();
    return true;
}

void BitPerfectAudioPlayer::pause()
{
    collectRenderNews(Announce::Yes);
    if (!m_unit || !m_isPlaying || m_unitEnded)
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
    setPlaying(false);
    setPaused(true);
}

void BitPerfectAudioPlayer::resume()
{
    collectRenderNews(Announce::Yes);
    if (m_isPaused && m_track)
        continueAt(m_feed.frame(0), false);
}

// The paused unit goes on when it is still on the device selected now and
// its device takes it back; anything else opens the selected device anew.
bool BitPerfectAudioPlayer::continueAt(qint64 frame, bool announce)
{
    if (m_unit && m_isPaused && selectedDevice() == m_deviceId) {
        m_feed.rearm(frame);
        if (m_unit->start()) {
            setPlaying(true);
            setPaused(false);
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
    dropPendingLoad();
    dropPreload();
    stopUnit();
    // Stopped for good: other programs may have the device again.
    m_releaseGrace.stop();
    if (m_deviceId != 0)
        m_platform.handBackToDesktop(m_deviceId);
    freeTracks();
    setPlaying(false);
    setPaused(false);
    setDuration(0.0);
    m_feed.setFrame(0);
}

void BitPerfectAudioPlayer::seek(double seconds)
{
    collectRenderNews(Announce::Yes);
    if (m_isLoading && !m_waitingForDevice) {
        m_seekWhileLoading = seconds;
        return;
    }
    if (!m_track || !(seconds >= 0.0 && seconds <= m_duration))
        return;
    const auto frame = std::min(qint64(seconds * m_track->format.sampleRate), m_track->totalFrames);
    if (m_waitingForDevice)
        m_waitingFrame = frame; // the track starts there once the card is ours
    if (m_unit && m_isPlaying && !m_unitEnded)
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
    dropPreload();
    m_readyUnit.reset();
    if (m_waitingForDevice && m_track && m_deviceId != deviceId) {
        // A start waiting for another card goes to this one instead.
        m_waitingForDevice = false;
        const bool announce = m_announceWhenReady;
        if (!restartAt(m_waitingFrame, announce) && !announce)
            emit outputFailed();
        return;
    }
    if (!m_unit || !m_isPlaying || !m_track)
        return;
    m_failedOutputGrace.stop();
    // Carry on from the first frame that did not sound on the old device.
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
    if (url.isEmpty() || !url.isLocalFile()) {
        dropPreload();
        return;
    }
    if ((m_preloaded && m_preloaded->url == url) || (m_preloadTicket != 0 && m_preloadingURL == url))
        return;
    dropPreload();
    m_preloadingURL = url;
    const QByteArray path = trackpath::bytesOf(url);
    if (m_loadMode == LoadMode::Inline) {
        m_preloadTicket = quint64(-1);
        onLoadFinished(m_preloadTicket, {m_load(path, {}), fileStampOf(path)});
    } else {
        m_preloadTicket = m_loads->request(path, TrackLoadWorker::Priority::Preload);
    }
}

StreamFormat BitPerfectAudioPlayer::outputFormat() const
{
    return m_unit ? m_unit->deviceFormat() : StreamFormat{};
}

// --- Loading --------------------------------------------------------------

void BitPerfectAudioPlayer::loadToPlay(const QByteArray &path)
{
    if (m_loadMode == LoadMode::Inline) {
        m_playTicket = quint64(-2);
        onLoadFinished(m_playTicket, {m_load(path, {}), fileStampOf(path)});
    } else {
        m_playTicket = m_loads->request(path, TrackLoadWorker::Priority::Play);
    }
}

void BitPerfectAudioPlayer::onLoadFinished(quint64 ticket, TrackLoadWorker::Result result)
{
    if (ticket != 0 && ticket == m_preloadTicket) {
        m_preloadTicket = 0;
        m_preloaded = makeTrack(std::exchange(m_preloadingURL, {}), std::move(result));
        offerPreloadToRenderThread();
        return;
    }
    if (ticket == 0 || ticket != m_playTicket)
        return; // superseded: the track is freed here, unplayed
    m_playTicket = 0;
    const LoadProblem problem = result.problem;
    if (std::unique_ptr<Track> track = makeTrack(m_currentURL, std::move(result))) {
        emit trackInMemory(track->url, track->block, track->format, track->totalFrames);
        startTrack(std::move(track));
    } else {
        fail(failureOf(problem));
        becomeIdleAfterFailure();
    }
    const bool hasStarted = m_isPlaying;
    setLoading(m_waitingForDevice);
    if (hasStarted)
        emit started();
}

std::unique_ptr<BitPerfectAudioPlayer::Track>
BitPerfectAudioPlayer::makeTrack(const QUrl &url, TrackLoadWorker::Result result)
{
    if (!result.track || result.track->totalFrames <= 0 || !(result.track->format.sampleRate > 0))
        return nullptr;
    auto track = std::make_unique<Track>();
    track->url = url;
    track->stamp = result.stamp;
    track->block = std::make_shared<const TrackBlock>(std::move(result.track->block));
    track->format = result.track->format;
    track->totalFrames = result.track->totalFrames;
    m_lastSerial = m_lastSerial == 0xFFFFFFFF ? 1 : m_lastSerial + 1;
    track->serial = m_lastSerial;
    return track;
}

void BitPerfectAudioPlayer::startTrack(std::unique_ptr<Track> track)
{
    m_track = std::move(track);
    publishTrack(*m_track);
    qint64 frame = startFrameFor(m_startFraction);
    // A seek made while loading names a time in the track now known; it wins
    // over the start fraction when it lies within the track.
    const std::optional<double> seconds = std::exchange(m_seekWhileLoading, std::nullopt);
    if (seconds && *seconds >= 0.0 && *seconds <= m_duration)
        frame = std::min(qint64(*seconds * m_track->format.sampleRate), m_track->totalFrames);
    m_announceWhenReady = true;
    if (startOutput(frame) == Start::Failed)
        becomeIdleAfterFailure();
}

qint64 BitPerfectAudioPlayer::startFrameFor(double fraction) const
{
    return m_track ? qint64(fraction * double(m_track->totalFrames)) : 0;
}

void BitPerfectAudioPlayer::dropPendingLoad()
{
    if (m_playTicket != 0) {
        m_loads->cancel(std::exchange(m_playTicket, 0));
        m_seekWhileLoading.reset();
    }
    m_waitingForDevice = false;
    setLoading(false);
}

void BitPerfectAudioPlayer::dropPreload()
{
    if (m_preloadTicket != 0)
        m_loads->cancel(std::exchange(m_preloadTicket, 0));
    m_preloadingURL.clear();
    if (!m_preloaded)
        return;
    // An offer the render thread has taken (or is taking) is not ours to
    // free: it plays, and the render thread's news adopts it.
    if (!m_feed.withdraw())
        m_preloaded.reset();
}

// The render thread may go on into the preloaded track only when it has the
// very format the device was opened for.
void BitPerfectAudioPlayer::offerPreloadToRenderThread()
{
    if (m_unit && m_track && m_preloaded && m_preloaded->format == m_track->format) {
        m_feed.offer(m_preloaded.get());
    }
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
        return fail(PlaybackFailure::NoDevice), Start::Failed;
    m_deviceId = *device;
    m_releaseGrace.stop();
    if (const DeviceRefusal why = m_platform.takeExclusiveUse(m_deviceId); why != DeviceRefusal::None) {
        if (why != DeviceRefusal::Waiting)
            return fail(failureOf(why)), Start::Failed;
        waitForDevice(frame);
        return Start::Waiting;
    }
    if (!m_platform.setNominalSampleRate(m_deviceId, m_track->format.sampleRate))
        return fail(PlaybackFailure::DeviceGone), Start::Failed;
    m_feed.hand(m_track.get(), frame);
    m_unitEnded = false;
    std::unique_ptr<OutputUnit> unit = openUnit();
    if (!unit)
        return Start::Failed;
    m_unit = std::move(unit);
    m_signalPath.set(m_track->format, m_unit->deviceFormat(), m_unit->acceptedSettings());
    offerPreloadToRenderThread();
    setPlaying(true);
    setPaused(false);
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
    OpenedUnit opened = m_platform.createOutputUnit(m_deviceId, m_track->format, m_feed);
    if (const auto *why = std::get_if<DeviceRefusal>(&opened))
        return fail(failureOf(*why)), nullptr;
    unit = std::get<std::unique_ptr<OutputUnit>>(std::move(opened));
    if (!unit->start())
        return fail(PlaybackFailure::DeviceGone), nullptr;
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
void BitPerfectAudioPlayer::prepareOutput(quint64 ticket, const StreamFormat &format)
{
    const std::optional<quint32> device = selectedDevice();
    if (ticket != m_playTicket || m_readyUnit || !device)
        return;
    m_deviceId = *device; // what is taken here is given back with it
    if (m_platform.takeExclusiveUse(m_deviceId) != DeviceRefusal::None
        || !m_platform.setNominalSampleRate(m_deviceId, format.sampleRate))
        return;
    OpenedUnit opened = m_platform.createOutputUnit(m_deviceId, format, m_feed);
    if (auto *unit = std::get_if<std::unique_ptr<OutputUnit>>(&opened))
        m_readyUnit = std::move(*unit);
    m_readyDeviceId = m_deviceId;
    m_readyFormat = format;
}

// Another program was asked for the device: the track waits in memory for
// its answer (deviceReady()), shown as loading.
void BitPerfectAudioPlayer::waitForDevice(qint64 frame)
{
    m_waitingForDevice = true;
    m_waitingFrame = std::clamp<qint64>(frame, 0, m_track->totalFrames);
    m_feed.setFrame(m_waitingFrame);
    setPlaying(false);
    setPaused(false);
    setLoading(true);
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
    m_feed.clear();
    m_unitEnded = false;
    m_failedOutputGrace.stop();
    if (m_deviceId != 0)
        m_platform.letGoBetweenUnits(m_deviceId);
}

void BitPerfectAudioPlayer::freeTracks()
{
    m_track.reset();
    m_preloaded.reset();
}

// A failure must not be reported as playing: whatever was torn down, the
// player is Idle and says so.
void BitPerfectAudioPlayer::becomeIdleAfterFailure()
{
    stopUnit();
    m_track.reset();
    m_waitingForDevice = false;
    setPlaying(false);
    setPaused(false);
    setLoading(false);
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
    if (m_unit || m_isLoading || m_waitingForDevice || m_deviceId == 0)
        return;
    m_platform.handBackToDesktop(m_deviceId);
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
        if (m_isPlaying)
            m_failedOutputGrace.start();
    } else if (news & RenderFeed::PlayedOut) {
        m_unitEnded = true;
        if (announce == Announce::Yes)
            onPlayedOut();
    }
}

void BitPerfectAudioPlayer::adoptAdvancedTrack(Announce announce)
{
    if (!m_preloaded || m_feed.playing() != m_preloaded.get())
        return;
    // The render thread never reads the old track again.
    m_feed.forgetOffer();
    m_track = std::move(m_preloaded);
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
    setPlaying(false);
    setPaused(false);
    releaseDeviceSoon();
}

void BitPerfectAudioPlayer::onOutputFailed()
{
    if (!m_unit || !m_unitEnded)
        return;
    fail(PlaybackFailure::DeviceLost);
    becomeIdleAfterFailure();
    emit outputFailed();
}

void BitPerfectAudioPlayer::fail(PlaybackFailure why)
{
    m_failure = why;
    QString name;
    if (why != PlaybackFailure::None && m_deviceId != 0) {
        for (const PlaybackDevice &device : m_platform.devices().value_or(QList<PlaybackDevice>{}))
            if (device.id == m_deviceId)
                name = device.name;
    }
    const QString text = failureText(why, name, m_track ? m_track->format.sampleRate : 0.0);
    if (text == m_failureReason)
        return;
    m_failureReason = text;
    emit failureReasonChanged();
}

// The other program has answered: the loaded track starts now, or the
// player ends Idle.
void BitPerfectAudioPlayer::onDeviceReady(quint32 deviceId, bool mayTake)
{
    if (!m_waitingForDevice || deviceId != m_deviceId)
        return;
    m_waitingForDevice = false;
    const bool announce = std::exchange(m_announceWhenReady, false);
    if (!mayTake)
        fail(PlaybackFailure::DeviceBusy);
    if (!mayTake || startOutput(m_waitingFrame) == Start::Failed) {
        becomeIdleAfterFailure();
        // A move that cannot go on is no end of the track.
        if (!announce)
            emit outputFailed();
        return;
    }
    setLoading(m_waitingForDevice);
    if (m_isPlaying && announce)
        emit started();
}

// The unit is closed already; like a failed device, this is no end of the
// track.
void BitPerfectAudioPlayer::onDeviceTaken(quint32 deviceId)
{
    if (deviceId != m_deviceId || !m_unit)
        return;
    if (m_isPaused) {
        // Given away while silent: the next start asks for it again.
        stopUnit();
        return;
    }
    fail(PlaybackFailure::DeviceTaken);
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
