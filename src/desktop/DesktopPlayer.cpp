#include "DesktopPlayer.h"

#include "BitPerfectAudioPlayer.h"
#include "FileIntake.h"
#include "PlayQueue.h"
#include "TagReader.h"
#include "Transport.h"

#include <QDBusObjectPath>
#include <QFileInfo>
#include <cmath>

DesktopPlayer::DesktopPlayer(PlayQueue &queue, Transport &transport, BitPerfectAudioPlayer &player,
                             FileIntake &intake, TagReader &tags, QObject *parent)
    : QObject(parent), m_queue(queue), m_transport(transport), m_player(player), m_intake(intake), m_tags(tags)
{
    connect(&m_queue, &PlayQueue::fileURLsChanged, this, [this] {
        ++m_queueGeneration;
        onCurrentTrackMoved();
    });
    connect(&m_queue, &PlayQueue::currentIndexChanged, this, &DesktopPlayer::onCurrentTrackMoved);
    for (auto signal : {&BitPerfectAudioPlayer::isPlayingChanged, &BitPerfectAudioPlayer::isPausedChanged,
                        &BitPerfectAudioPlayer::isLoadingChanged, &BitPerfectAudioPlayer::durationChanged,
                        &BitPerfectAudioPlayer::currentURLChanged}) {
        connect(&m_player, signal, this, &DesktopPlayer::changed);
        connect(&m_player, signal, this, &DesktopPlayer::forgetTrackWhenIdle);
    }
    connect(&m_player, &BitPerfectAudioPlayer::started, this, &DesktopPlayer::onStarted);
    // The transport has moved the queue on by now: it connected first.
    connect(&m_player, &BitPerfectAudioPlayer::advancedToNext, this, [this] { m_heldTrackId = trackId(); });
    connect(&m_transport, &Transport::canGoNextChanged, this, &DesktopPlayer::changed);
    connect(&m_tags, &TagReader::tagsRead, this, [this](const QUrl &url) {
        if (url == m_queue.currentTrackURL())
            emit changed();
    });
}

QString DesktopPlayer::playbackStatus() const
{
    if (m_player.isPlaying() || m_player.isLoading())
        return QStringLiteral("Playing");
    return m_player.isPaused() ? QStringLiteral("Paused") : QStringLiteral("Stopped");
}

QVariantMap DesktopPlayer::metadata() const
{
    const QUrl url = m_queue.currentTrackURL();
    if (url.isEmpty())
        return {};
    const TrackTags tags = m_tags.tags(url).value_or(TrackTags{});
    QVariantMap map{
        {QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(trackId()))},
        {QStringLiteral("xesam:url"), url.toString(QUrl::FullyEncoded)},
        {QStringLiteral("xesam:title"), tags.title.isEmpty() ? QFileInfo(url.toLocalFile()).fileName() : tags.title},
    };
    if (const qint64 microseconds = length(); microseconds > 0)
        map.insert(QStringLiteral("mpris:length"), microseconds);
    if (!tags.artists.isEmpty())
        map.insert(QStringLiteral("xesam:artist"), tags.artists);
    if (!tags.album.isEmpty())
        map.insert(QStringLiteral("xesam:album"), tags.album);
    if (tags.trackNumber > 0)
        map.insert(QStringLiteral("xesam:trackNumber"), tags.trackNumber);
    if (!tags.coverURL.isEmpty())
        map.insert(QStringLiteral("mpris:artUrl"), tags.coverURL.toString(QUrl::FullyEncoded));
    return map;
}

qint64 DesktopPlayer::position() const
{
    const double rate = m_player.sampleRate();
    if (!holdsCurrentTrack() || !(rate > 0))
        return 0;
    return qint64(std::llround(double(m_player.currentFrame()) * 1e6 / rate));
}

QString DesktopPlayer::trackId() const
{
    // Not under /org/mpris, which the protocol keeps for itself; the queue's
    // generation tells a track from the one at the same row of an older queue.
    return QStringLiteral("/org/quorvel/QuorvelPlayer/track/q%1_%2").arg(m_queueGeneration).arg(m_queue.currentIndex());
}

bool DesktopPlayer::canGoNext() const
{
    return m_transport.canGoNext();
}

// The Previous button is never disabled: on the first track it restarts it.
bool DesktopPlayer::canGoPrevious() const
{
    return hasTrack();
}

bool DesktopPlayer::hasTrack() const
{
    return !m_queue.isEmpty();
}

void DesktopPlayer::play()
{
    if (hasTrack() && !m_player.isPlaying() && !m_player.isLoading())
        m_transport.togglePausePlayback();
}

void DesktopPlayer::pause()
{
    if (m_player.isPlaying())
        m_transport.togglePausePlayback();
}

void DesktopPlayer::playPause()
{
    if (hasTrack())
        m_transport.togglePausePlayback();
}

void DesktopPlayer::stop()
{
    m_transport.stopPlayback();
}

void DesktopPlayer::next()
{
    m_transport.next();
}

void DesktopPlayer::previous()
{
    if (hasTrack())
        m_transport.prev();
}

void DesktopPlayer::seek(qint64 offset)
{
    if (!hasTrack() || length() <= 0)
        return;
    const qint64 target = std::max<qint64>(0, position() + offset);
    if (target > length())
        m_transport.next();
    else
        seekTo(target);
}

void DesktopPlayer::setPosition(const QString &id, qint64 target)
{
    if (hasTrack() && id == trackId() && target >= 0 && target <= length())
        seekTo(target);
}

void DesktopPlayer::open(const QList<QUrl> &urls)
{
    if (!urls.isEmpty())
        m_intake.handleDrop(urls);
}

void DesktopPlayer::raise()
{
    emit raiseRequested();
}

void DesktopPlayer::quit()
{
    emit quitRequested();
}

// The engine's length once it holds the track, exact to the frame; the tag
// reader's estimate before.
qint64 DesktopPlayer::length() const
{
    if (holdsCurrentTrack() && m_player.duration() > 0)
        return qint64(std::llround(m_player.duration() * 1e6));
    const std::optional<TrackTags> tags = m_tags.tags(m_queue.currentTrackURL());
    return tags ? tags->lengthMicroseconds : 0;
}

// While a track loads, the engine names it but still publishes the length and
// rate of the one before.
bool DesktopPlayer::holdsCurrentTrack() const
{
    return !m_player.isLoading() && m_player.currentURL() == m_queue.currentTrackURL();
}

// As a click on the waveform at that point.
void DesktopPlayer::seekTo(qint64 target)
{
    m_transport.playTrack(m_queue.currentIndex(), double(target) / double(length()));
}

void DesktopPlayer::onCurrentTrackMoved()
{
    m_tags.request(m_queue.currentTrackURL());
    emit changed();
}

// A start of the track the engine holds is a jump within it; a start after
// a stop or an end is none.
void DesktopPlayer::onStarted()
{
    const QString id = trackId();
    if (id == m_heldTrackId)
        emit seeked(position());
    m_heldTrackId = id;
}

void DesktopPlayer::forgetTrackWhenIdle()
{
    if (!m_player.isPlaying() && !m_player.isPaused() && !m_player.isLoading())
        m_heldTrackId.clear();
}
