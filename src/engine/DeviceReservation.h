#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>

// One audio card reserved on the session bus with the freedesktop device
// reservation protocol (org.freedesktop.ReserveDevice1): whoever owns the
// name org.freedesktop.ReserveDevice1.Audio<card> may open the card, and a
// program that wants it asks the owner to let go. A sound server that holds
// the card then closes it instead of keeping it from the player.
//
// GUI thread only. Nothing here waits on another program: the one call to
// an owner is asynchronous; the calls to the bus daemon itself answer at once.
class DeviceReservation : public QObject
{
    Q_OBJECT
public:
    // What acquire() found.
    enum class Outcome {
        Held,     // the name is ours: open the card
        Waiting,  // the owner was asked to let go: granted() or refused() follows
        Refused,  // another program keeps the card
    };

    // Our claim: above a desktop sound server's (0), so that it lets go,
    // below a program that asks for more.
    static constexpr int kPriority = 10;

    // `isPlaying` says whether the card sounds now: only then is it kept
    // from a claim no higher than ours.
    DeviceReservation(const QDBusConnection &bus, int card, std::function<bool()> isPlaying,
                      QObject *parent = nullptr);
    // Gives the name up (the owner of the card must have closed it by now).
    ~DeviceReservation() override;

    // Takes the name when it is free; asks its owner to release it when not.
    Outcome acquire();
    // Gives the name up; nothing when it is not ours. Close the card first.
    void release();
    bool isHeld() const { return m_held; }
    int card() const { return m_card; }
    QString serviceName() const;

    // Called over the bus by a program that wants the card. While the card
    // plays, true only for a strictly higher priority than ours; while it is
    // paused or idle, true for any: a card we do not sound on is not kept
    // from the desktop. True comes once the card is closed; the caller then
    // takes the name over.
    bool answerReleaseRequest(int priority);

signals:
    // The owner let go and the name is ours; the card may take a moment
    // before it is closed on the owner's side.
    void granted();
    // The owner kept the card, did not answer, or the name was taken first.
    void refused();
    // Another program took the card: close it at once. Emitted before a
    // granted release is answered, and when the name is lost.
    void lost();

private slots:
    void onNameLost(const QString &name);

private:
    bool requestName(bool replace);
    void onReleaseAnswered(bool released);
    QString objectPath() const;

    QDBusConnection m_bus;
    int m_card;
    std::function<bool()> m_isPlaying;
    bool m_held = false;  // the card may be opened
    bool m_owned = false; // the bus has the name as ours (also after a grant)
    bool m_asking = false;
    bool m_registered = false;
};
