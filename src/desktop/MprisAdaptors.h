#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QStringList>
#include <QVariantMap>

class DesktopPlayer;

// The two interfaces of a media player on the session bus, and the player's
// own one for a second start, each a thin mapping onto DesktopPlayer. Their
// properties are read on demand; what changes is announced by MprisService.
//
// GUI thread only (QtDBus delivers calls on the thread of the object).

class MprisRootAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(QString Identity READ identity CONSTANT)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry CONSTANT)
    Q_PROPERTY(bool CanQuit READ canQuit CONSTANT)
    Q_PROPERTY(bool CanRaise READ canRaise CONSTANT)
    Q_PROPERTY(bool HasTrackList READ hasTrackList CONSTANT)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes CONSTANT)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes CONSTANT)

public:
    MprisRootAdaptor(QObject *host, DesktopPlayer &player, const QString &desktopEntry);

    QString identity() const { return QStringLiteral("QuorvelPlayer"); }
    QString desktopEntry() const { return m_desktopEntry; }
    bool canQuit() const { return true; }
    bool canRaise() const { return true; }
    bool hasTrackList() const { return false; }
    QStringList supportedUriSchemes() const { return {QStringLiteral("file")}; }
    QStringList supportedMimeTypes() const;

public slots:
    void Raise();
    void Quit();

private:
    DesktopPlayer &m_player;
    QString m_desktopEntry;
};

class MprisPlayerAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double Rate READ one WRITE ignore)
    Q_PROPERTY(double MinimumRate READ one CONSTANT)
    Q_PROPERTY(double MaximumRate READ one CONSTANT)
    // The samples reach the device unchanged: there is no volume to set.
    Q_PROPERTY(double Volume READ one WRITE ignore)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoPrevious)
    Q_PROPERTY(bool CanPlay READ hasTrack)
    Q_PROPERTY(bool CanPause READ hasTrack)
    Q_PROPERTY(bool CanSeek READ hasTrack)
    Q_PROPERTY(bool CanControl READ canControl CONSTANT)

public:
    MprisPlayerAdaptor(QObject *host, DesktopPlayer &player);

    QString playbackStatus() const;
    QVariantMap metadata() const;
    qlonglong position() const;
    double one() const { return 1.0; }
    void ignore(double) {}
    bool canGoNext() const;
    bool canGoPrevious() const;
    bool hasTrack() const;
    bool canControl() const { return true; }

    // The properties that change, as announced.
    QVariantMap announced() const;

public slots:
    void Play();
    void Pause();
    void PlayPause();
    void Stop();
    void Next();
    void Previous();
    void Seek(qlonglong Offset);
    void SetPosition(const QDBusObjectPath &TrackId, qlonglong Position);
    void OpenUri(const QString &Uri);

signals:
    void Seeked(qlonglong Position);

private:
    DesktopPlayer &m_player;
};

// A second start of the program hands its files and folders over here.
class HandOverAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.quorvel.QuorvelPlayer")

public:
    static constexpr const char *interfaceName = "org.quorvel.QuorvelPlayer";

    HandOverAdaptor(QObject *host, DesktopPlayer &player);

public slots:
    // Plays `uris` as a drop of them (none: nothing) and raises the window.
    void Open(const QStringList &uris);

private:
    DesktopPlayer &m_player;
};
