#include "Transport.h"

#include "BitPerfectAudioPlayer.h"
#include "Clock.h"
#include "PlayQueue.h"
#include "WaveformLoader.h"

#include <algorithm>
#include <cmath>

Transport::Transport(PlayQueue &queue, BitPerfectAudioPlayer &player, WaveformLoader &waveforms,
                     const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_queue(queue)
    , m_player(player)
    , m_waveforms(waveforms)
    , m_clock(clock)
    , m_lastSeenIsPlaying(player.isPlaying())
{
    m_progressTimer.setInterval(progressIntervalMs);
    m_progressTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_progressTimer, &QTimer::timeout, this, &Transport::tick);
    connect(&m_player, &BitPerfectAudioPlayer::isPlayingChanged, this, &Transport::scheduleEndOfTrackCheck);
    connect(&m_player, &BitPerfectAudioPlayer::isPlayingChanged, this, &Transport::updateEnabledRules);
    connect(&m_player, &BitPerfectAudioPlayer::isPausedChanged, this, &Transport::updateEnabledRules);
    connect(&m_player, &BitPerfectAudioPlayer::isLoadingChanged, this, &Transport::scheduleEndOfTrackCheck);
    connect(&m_player, &BitPerfectAudioPlayer::isLoadingChanged, this, &Transport::updateEnabledRules);
    connect(&m_player, &BitPerfectAudioPlayer::started, this, &Transport::anchorAtStart);
    connect(&m_player, &BitPerfectAudioPlayer::started, this, &Transport::preloadFollowingTrack);
    connect(&m_player, &BitPerfectAudioPlayer::advancedToNext, this, &Transport::followAdvance);
    // A device lost under a track is no end of the track: the queue stays.
    connect(&m_player, &BitPerfectAudioPlayer::outputFailed, this, [this] { setIsNeedToPlayNext(false); });
    connect(&m_queue, &PlayQueue::fileURLsChanged, this, &Transport::updateEnabledRules);
    connect(&m_queue, &PlayQueue::fileURLsChanged, this, &Transport::preloadFollowingTrack);
    connect(&m_queue, &PlayQueue::currentIndexChanged, this, &Transport::updateEnabledRules);
    connect(this, &Transport::playbackProgressChanged, this, &Transport::updateEnabledRules);
    updateEnabledRules();
}

bool Transport::canStop() const
{
    return m_player.isPlaying() || m_player.isPaused() || m_player.isLoading()
           || m_playbackProgress != 0.0;
}

bool Transport::canGoNext() const
{
    return m_queue.currentIndex() < m_queue.count() - 1;
}

void Transport::playTrack(qint64 index, double fraction)
{
    if (!m_queue.contains(index))
        return;
    // NaN fails both comparisons; treat it as the start of the track.
    fraction = fraction > 1.0 ? 1.0 : (fraction > 0.0 ? fraction : 0.0);
    const QUrl url = m_queue.fileURLs().at(index);
    m_queue.setCurrentIndex(index);
    // The clock starts when the sound does; the engine may load for seconds.
    m_playbackStart.reset();
    m_awaitedStart = fraction;
    setPlaybackProgress(fraction);
    setIsNeedToPlayNext(true);
    m_readForStart.clear();
    m_player.playBitPerfect(url, fraction);
    // Asked only now: a load to play has begun and the pool waits for it,
    // where a worker woken before would decode the same file beside it.
    m_waveforms.loadWaveform(url, WaveformLoader::Priority::Playing);
}

void Transport::next()
{
    if (m_queue.isEmpty() || m_queue.currentIndex() >= m_queue.count() - 1)
        return;
    playTrack(m_queue.currentIndex() + 1, 0.0);
}

void Transport::prev()
{
    // Early in a track, "previous" means the track before; later it restarts
    // this one.
    if (m_playbackProgress <= 0.05 && m_queue.currentIndex() >= 1)
        playTrack(m_queue.currentIndex() - 1, 0.0);
    else
        playTrack(m_queue.currentIndex(), 0.0);
}

void Transport::stopPlayback()
{
    if (!m_player.isPlaying() && !m_player.isPaused() && !m_player.isLoading())
        return;
    // Disarm first: the engine's isPlaying turning false must not read as the
    // end of the track.
    setIsNeedToPlayNext(false);
    m_player.stop();
    m_playbackStart.reset();
    m_awaitedStart.reset();
    setPlaybackProgress(0.0);
}

void Transport::togglePausePlayback()
{
    // A second press while a track loads would restart the load from 0.
    if (m_player.isLoading())
        return;
    if (m_player.isPlaying()) {
        setIsNeedToPlayNext(false);
        m_player.pause();
        m_playbackStart.reset();
    } else if (m_player.isPaused()) {
        setIsNeedToPlayNext(true);
        m_player.resume();
        anchorAt(m_playbackProgress * m_player.duration());
    } else {
        playTrack(m_queue.currentIndex(), 0.0);
    }
}

// The engine went on into the next track without a gap: the queue follows
// it as it would an automatic move to the next track.
void Transport::followAdvance()
{
    const QUrl url = m_player.currentURL();
    qint64 index = m_queue.currentIndex() + 1;
    if (!m_queue.contains(index) || m_queue.fileURLs().at(index) != url)
        index = m_queue.fileURLs().indexOf(url);
    if (index < 0) {
        // The queue changed under the stream; what plays is no longer in it.
        stopPlayback();
        return;
    }
    m_queue.setCurrentIndex(index);
    m_waveforms.loadWaveform(url, WaveformLoader::Priority::Playing);
    m_awaitedStart.reset();
    anchorAt(0.0);
    setPlaybackProgress(0.0);
    preloadFollowingTrack();
}

void Transport::readAhead(const QUrl &url)
{
    m_readForStart = url;
    m_player.preloadNext(url);
}

// One track ahead is read into memory while this one plays, so that it
// follows without a gap or starts at once. Idle, nothing is read ahead but
// what readAhead() read for the start about to be asked for, while the
// queue holds it: taking the queue in must not throw that read away.
void Transport::preloadFollowingTrack()
{
    const bool active = m_player.isPlaying() || m_player.isPaused() || m_player.isLoading();
    if (!active && !m_readForStart.isEmpty() && m_queue.fileURLs().contains(m_readForStart))
        return;
    m_readForStart.clear();
    const qint64 next = m_queue.currentIndex() + 1;
    if (active && m_queue.contains(next))
        m_player.preloadNext(m_queue.fileURLs().at(next));
    else
        m_player.preloadNext({});
}

void Transport::tick()
{
    if (!m_playbackStart || !m_player.isPlaying() || !(m_player.duration() > 0))
        return;
    const double elapsed = m_clock.now() - *m_playbackStart;
    setPlaybackProgress(std::min(elapsed / m_player.duration(), 1.0));
}

void Transport::startProgressTimer()
{
    m_progressTimer.start();
}

void Transport::setPlaybackProgress(double progress)
{
    if (m_playbackProgress == progress)
        return;
    m_playbackProgress = progress;
    emit playbackProgressChanged();
}

void Transport::setIsNeedToPlayNext(bool value)
{
    if (m_isNeedToPlayNext == value)
        return;
    m_isNeedToPlayNext = value;
    emit isNeedToPlayNextChanged();
}

void Transport::anchorAt(double seconds)
{
    m_playbackStart = m_clock.now() - seconds;
}

// A start nobody here asked for (a reload by the device catalogue alone)
// begins at frame 0.
void Transport::anchorAtStart()
{
    const double fraction = m_awaitedStart.value_or(0.0);
    m_awaitedStart.reset();
    anchorAt(fraction * m_player.duration());
}

// The engine may publish "not playing" more than once at the end of a track,
// and a change can be undone within the same turn of the event loop. Looking
// at the value once per turn, against the last value seen, moves on at most
// once per real end.
void Transport::scheduleEndOfTrackCheck()
{
    if (m_endOfTrackCheckPending)
        return;
    m_endOfTrackCheckPending = true;
    QMetaObject::invokeMethod(this, &Transport::checkEndOfTrack, Qt::QueuedConnection);
}

void Transport::checkEndOfTrack()
{
    m_endOfTrackCheckPending = false;
    // Nothing plays while a track loads, and that is no end; its outcome
    // (started or failed) schedules the next look.
    if (m_player.isLoading())
        return;
    const bool isPlaying = m_player.isPlaying();
    if (isPlaying == m_lastSeenIsPlaying)
        return;
    m_lastSeenIsPlaying = isPlaying;
    // A start that failed is no end of a track, whatever played before it:
    // the queue stays on the track that failed, its reason on the card.
    if (m_isNeedToPlayNext && !isPlaying && m_player.failure().kind == FailureKind::None)
        next();
}

void Transport::updateEnabledRules()
{
    const bool canStopNow = canStop();
    const bool canGoNextNow = canGoNext();
    if (canStopNow != m_canStop) {
        m_canStop = canStopNow;
        emit canStopChanged();
    }
    if (canGoNextNow != m_canGoNext) {
        m_canGoNext = canGoNextNow;
        emit canGoNextChanged();
    }
}
