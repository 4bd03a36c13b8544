#include "NowPlaying.h"

#include "BitPerfectAudioPlayer.h"
#include "PlayQueue.h"
#include "TrackListLabels.h"
#include "Transport.h"
#include "WaveformLoader.h"

NowPlaying::NowPlaying(PlayQueue &queue, Transport &transport, BitPerfectAudioPlayer &player,
                       WaveformLoader &waveforms, DeviceName deviceName, QObject *parent)
    : QObject(parent)
    , m_queue(queue)
    , m_transport(transport)
    , m_player(player)
    , m_waveforms(waveforms)
    , m_deviceName(std::move(deviceName))
    , m_state(compute())
{
    connect(&m_queue, &PlayQueue::fileURLsChanged, this, &NowPlaying::refresh);
    connect(&m_queue, &PlayQueue::currentIndexChanged, this, &NowPlaying::refresh);
    connect(&m_transport, &Transport::playbackProgressChanged, this, &NowPlaying::refresh);
    connect(&m_player, &BitPerfectAudioPlayer::durationChanged, this, &NowPlaying::refresh);
    connect(&m_player, &BitPerfectAudioPlayer::isPlayingChanged, this, &NowPlaying::refresh);
    connect(&m_player, &BitPerfectAudioPlayer::isLoadingChanged, this, &NowPlaying::refresh);
    connect(&m_player, &BitPerfectAudioPlayer::failureChanged, this, &NowPlaying::updateFailureReason);
    connect(&m_waveforms, &WaveformLoader::waveformChanged, this, &NowPlaying::refresh);
    connect(&m_waveforms, &WaveformLoader::loadingChanged, this, &NowPlaying::refresh);
    connect(&m_waveforms, &WaveformLoader::cachesReset, this, &NowPlaying::refresh);
}

// Named when it happens: a device that vanishes afterwards keeps the name
// the card showed.
void NowPlaying::updateFailureReason()
{
    const PlaybackFailure &failure = m_player.failure();
    const QString name = failure.deviceId != 0 && m_deviceName ? m_deviceName(failure.deviceId) : QString();
    QString text = failureText(failure, name);
    if (text == m_failureReason)
        return;
    m_failureReason = std::move(text);
    emit failureReasonChanged();
}

void NowPlaying::seekClick(double width, QPointF press, QPointF release)
{
    if (const std::optional<double> fraction = clickFraction(width, press, release))
        m_transport.playTrack(m_queue.currentIndex(), *fraction);
}

NowPlaying::State NowPlaying::compute() const
{
    State s;
    s.url = m_queue.currentTrackURL();
    const std::optional<QUrl> current = s.url.isEmpty() ? std::nullopt : std::optional(s.url);
    s.title = ::currentTrackTitle(current);
    s.position = ::trackPositionLabel(m_queue.currentIndex(), m_queue.count());
    s.count = ::trackCountLabel(m_queue.count());
    // The engine knows the length once the track is loaded; before that
    // (while loading it still holds the previous track's), and after a stop,
    // the waveform's measurement stands in.
    const bool engineKnows = m_player.duration() > 0 && !m_player.isLoading();
    s.duration = engineKnows ? m_player.duration()
                             : (current ? m_waveforms.durationFor(s.url) : 0.0);
    s.samples = current ? m_waveforms.samplesFor(s.url) : QList<double>();
    s.loading = current && m_waveforms.isLoading(s.url);
    s.elapsed = formatTime(m_transport.playbackProgress() * s.duration);
    s.total = formatTime(s.duration);
    s.playPause = playPauseLook(m_player.isPlaying(), m_player.isLoading());
    return s;
}

void NowPlaying::refresh()
{
    State next = compute();
    std::swap(next, m_state);
    const State &old = next;
    if (old.url != m_state.url) emit currentTrackURLChanged();
    if (old.title != m_state.title) emit currentTrackTitleChanged();
    if (old.position != m_state.position) emit trackPositionLabelChanged();
    if (old.count != m_state.count) emit trackCountLabelChanged();
    if (old.duration != m_state.duration) emit currentTrackDurationChanged();
    if (old.samples != m_state.samples) emit currentWaveformSamplesChanged();
    if (old.loading != m_state.loading) emit isCurrentTrackLoadingChanged();
    if (old.elapsed != m_state.elapsed) emit elapsedLabelChanged();
    if (old.total != m_state.total) emit durationLabelChanged();
    if (old.playPause != m_state.playPause) emit playPauseChanged();
}
