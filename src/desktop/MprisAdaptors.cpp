#include "MprisAdaptors.h"

#include "DesktopPlayer.h"

#include <QUrl>

MprisRootAdaptor::MprisRootAdaptor(QObject *host, DesktopPlayer &player, const QString &desktopEntry)
    : QDBusAbstractAdaptor(host), m_player(player), m_desktopEntry(desktopEntry)
{
}

// The types of the five formats the player opens, as file managers name them.
QStringList MprisRootAdaptor::supportedMimeTypes() const
{
    return {QStringLiteral("audio/wav"),  QStringLiteral("audio/x-wav"),  QStringLiteral("audio/vnd.wave"),
            QStringLiteral("audio/aiff"), QStringLiteral("audio/x-aiff"), QStringLiteral("audio/flac"),
            QStringLiteral("audio/x-flac"), QStringLiteral("audio/mpeg"), QStringLiteral("audio/mp3")};
}

void MprisRootAdaptor::Raise()
{
    m_player.raise();
}

void MprisRootAdaptor::Quit()
{
    m_player.quit();
}

MprisPlayerAdaptor::MprisPlayerAdaptor(QObject *host, DesktopPlayer &player)
    : QDBusAbstractAdaptor(host), m_player(player)
{
    connect(&m_player, &DesktopPlayer::seeked, this, &MprisPlayerAdaptor::Seeked);
}

QString MprisPlayerAdaptor::playbackStatus() const { return m_player.playbackStatus(); }
QVariantMap MprisPlayerAdaptor::metadata() const { return m_player.metadata(); }
qlonglong MprisPlayerAdaptor::position() const { return m_player.position(); }
bool MprisPlayerAdaptor::canGoNext() const { return m_player.canGoNext(); }
bool MprisPlayerAdaptor::canGoPrevious() const { return m_player.canGoPrevious(); }
bool MprisPlayerAdaptor::hasTrack() const { return m_player.hasTrack(); }

QVariantMap MprisPlayerAdaptor::announced() const
{
    return {
        {QStringLiteral("PlaybackStatus"), playbackStatus()},
        {QStringLiteral("Metadata"), metadata()},
        {QStringLiteral("CanGoNext"), canGoNext()},
        {QStringLiteral("CanGoPrevious"), canGoPrevious()},
        {QStringLiteral("CanPlay"), hasTrack()},
        {QStringLiteral("CanPause"), hasTrack()},
        {QStringLiteral("CanSeek"), hasTrack()},
    };
}

void MprisPlayerAdaptor::Play() { m_player.play(); }
void MprisPlayerAdaptor::Pause() { m_player.pause(); }
void MprisPlayerAdaptor::PlayPause() { m_player.playPause(); }
void MprisPlayerAdaptor::Stop() { m_player.stop(); }
void MprisPlayerAdaptor::Next() { m_player.next(); }
void MprisPlayerAdaptor::Previous() { m_player.previous(); }
void MprisPlayerAdaptor::Seek(qlonglong offset) { m_player.seek(offset); }

void MprisPlayerAdaptor::SetPosition(const QDBusObjectPath &trackId, qlonglong position)
{
    m_player.setPosition(trackId.path(), position);
}

void MprisPlayerAdaptor::OpenUri(const QString &uri)
{
    const QUrl url(uri);
    if (url.isLocalFile())
        m_player.open({url});
}

HandOverAdaptor::HandOverAdaptor(QObject *host, DesktopPlayer &player)
    : QDBusAbstractAdaptor(host), m_player(player)
{
}

void HandOverAdaptor::Open(const QStringList &uris)
{
    QList<QUrl> urls;
    for (const QString &uri : uris)
        urls.append(QUrl(uri));
    m_player.open(urls);
    m_player.raise();
}
