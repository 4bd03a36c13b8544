#include "MprisService.h"

#include "DesktopPlayer.h"
#include "MprisAdaptors.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

MprisService::MprisService(DesktopPlayer &player, const QString &desktopEntry, QObject *parent)
    : QObject(parent), m_player(player)
{
    new MprisRootAdaptor(this, player, desktopEntry);
    m_playerAdaptor = new MprisPlayerAdaptor(this, player);
    new HandOverAdaptor(this, player);
    connect(&player, &DesktopPlayer::changed, this, &MprisService::scheduleAnnouncement);
}

MprisService::~MprisService()
{
    if (!m_bus.isConnected())
        return;
    m_bus.interface()->unregisterService(QLatin1String(serviceName));
    m_bus.unregisterObject(QLatin1String(objectPath));
}

bool MprisService::publish(const QDBusConnection &bus)
{
    if (!bus.isConnected() || !bus.interface())
        return false;
    QDBusConnection candidate = bus;
    if (!candidate.registerObject(QLatin1String(objectPath), this, QDBusConnection::ExportAdaptors))
        return false;
    const auto reply = candidate.interface()->registerService(
        QLatin1String(serviceName), QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        candidate.unregisterObject(QLatin1String(objectPath));
        return false;
    }
    m_bus = candidate;
    m_announced = m_playerAdaptor->announced();
    return true;
}

// A track change moves the status, the metadata and the Can* at once, one
// signal after the other: clients hear of them together.
void MprisService::scheduleAnnouncement()
{
    if (m_announcementPending || !m_bus.isConnected())
        return;
    m_announcementPending = true;
    QMetaObject::invokeMethod(this, &MprisService::announce, Qt::QueuedConnection);
}

void MprisService::announce()
{
    m_announcementPending = false;
    const QVariantMap now = m_playerAdaptor->announced();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (m_announced.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    }
    m_announced = now;
    if (changed.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(QLatin1String(objectPath),
                                                     QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << QStringLiteral("org.mpris.MediaPlayer2.Player") << changed << QStringList();
    m_bus.send(signal);
}
