#include "DeviceReservation.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>

namespace {

constexpr auto kInterface = "org.freedesktop.ReserveDevice1";
// A sound server answers at once; one that does not is taken as a refusal
// rather than left to keep the start waiting.
constexpr int kRequestTimeoutMs = 3000;

} // namespace

// The object other programs call while we own the name.
class ReserveDeviceAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ReserveDevice1")
    Q_PROPERTY(QString ApplicationName READ applicationName)
    Q_PROPERTY(QString ApplicationDeviceName READ applicationDeviceName)
    Q_PROPERTY(int Priority READ priority)

public:
    explicit ReserveDeviceAdaptor(DeviceReservation *reservation)
        : QDBusAbstractAdaptor(reservation)
        , m_reservation(reservation)
    {
    }

    QString applicationName() const { return QStringLiteral("QuorvelPlayer"); }
    QString applicationDeviceName() const { return QStringLiteral("hw:%1").arg(m_reservation->card()); }
    int priority() const { return DeviceReservation::kPriority; }

public slots:
    bool RequestRelease(int priority) { return m_reservation->answerReleaseRequest(priority); }

private:
    DeviceReservation *m_reservation;
};

DeviceReservation::DeviceReservation(const QDBusConnection &bus, int card, std::function<bool()> isPlaying,
                                     QObject *parent)
    : QObject(parent)
    , m_bus(bus)
    , m_card(card)
    , m_isPlaying(std::move(isPlaying))
{
    new ReserveDeviceAdaptor(this);
    m_registered = m_bus.registerObject(objectPath(), this, QDBusConnection::ExportAdaptors);
    m_bus.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                  QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameLost"), this,
                  SLOT(onNameLost(QString)));
}

DeviceReservation::~DeviceReservation()
{
    release();
    m_bus.disconnect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                     QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameLost"), this,
                     SLOT(onNameLost(QString)));
    if (m_registered)
        m_bus.unregisterObject(objectPath());
}

QString DeviceReservation::serviceName() const
{
    return QStringLiteral("org.freedesktop.ReserveDevice1.Audio%1").arg(m_card);
}

QString DeviceReservation::objectPath() const
{
    return QStringLiteral("/org/freedesktop/ReserveDevice1/Audio%1").arg(m_card);
}

DeviceReservation::Outcome DeviceReservation::acquire()
{
    if (m_held)
        return Outcome::Held;
    if (m_asking)
        return Outcome::Waiting;
    if (requestName(false))
        return Outcome::Held;
    QDBusMessage call = QDBusMessage::createMethodCall(serviceName(), objectPath(),
                                                       QString::fromLatin1(kInterface),
                                                       QStringLiteral("RequestRelease"));
    call << qint32(kPriority);
    m_asking = true;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kRequestTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        const QDBusPendingReply<bool> reply = *w;
        w->deleteLater();
        onReleaseAnswered(!reply.isError() && reply.value());
    });
    return Outcome::Waiting;
}

// Replacement stays allowed, so that a program we grant the card to can take
// the name over from us.
bool DeviceReservation::requestName(bool replace)
{
    QDBusConnectionInterface *daemon = m_bus.interface();
    if (!daemon)
        return false;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = daemon->registerService(
        serviceName(),
        replace ? QDBusConnectionInterface::ReplaceExistingService
                : QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::AllowReplacement);
    m_held = reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
    m_owned = m_owned || m_held;
    return m_held;
}

void DeviceReservation::onReleaseAnswered(bool released)
{
    if (!m_asking)
        return; // released meanwhile: the answer is no longer wanted
    m_asking = false;
    if (released && requestName(true))
        emit granted();
    else
        emit refused();
}

void DeviceReservation::release()
{
    m_asking = false;
    m_held = false;
    if (!std::exchange(m_owned, false))
        return;
    if (QDBusConnectionInterface *daemon = m_bus.interface())
        daemon->unregisterService(serviceName());
}

bool DeviceReservation::answerReleaseRequest(int priority)
{
    if (!m_held || (priority <= kPriority && m_isPlaying && m_isPlaying()))
        return false;
    // The caller takes the name over once we answer (should it not, stop
    // or quit gives it up); the card must be closed before the answer.
    m_held = false;
    emit lost();
    return true;
}

// NameLost arrives late: after a release and a new acquire it may speak of
// the name as it was, so the bus daemon is asked who owns it now.
void DeviceReservation::onNameLost(const QString &name)
{
    if (name != serviceName() || !m_owned)
        return;
    const QDBusConnectionInterface *daemon = m_bus.interface();
    if (daemon && daemon->serviceOwner(name).value() == m_bus.baseService())
        return;
    m_owned = false;
    if (std::exchange(m_held, false))
        emit lost();
}

#include "DeviceReservation.moc"
