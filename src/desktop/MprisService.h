#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>

class DesktopPlayer;
class MprisPlayerAdaptor;

// Puts the player on a bus as a media player the desktop controls
// (org.mpris.MediaPlayer2.quorvelplayer at /org/mpris/MediaPlayer2), and
// announces every change of what the player interface shows, once, in one
// PropertiesChanged per turn of the event loop.
//
// GUI thread only.
class MprisService : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *serviceName = "org.mpris.MediaPlayer2.quorvelplayer";
    static constexpr const char *objectPath = "/org/mpris/MediaPlayer2";

    // `desktopEntry`: the base name of the installed desktop file.
    MprisService(DesktopPlayer &player, const QString &desktopEntry, QObject *parent = nullptr);
    ~MprisService() override;

    // Registers the interfaces, then takes the name: a client that sees the
    // name finds every property. False, and nothing on the bus, when there
    // is no bus or another program holds the name.
    bool publish(const QDBusConnection &bus);

private:
    void scheduleAnnouncement();
    void announce();

    DesktopPlayer &m_player;
    QDBusConnection m_bus{QString()};
    MprisPlayerAdaptor *m_playerAdaptor;
    QVariantMap m_announced;
    bool m_announcementPending = false;
};
