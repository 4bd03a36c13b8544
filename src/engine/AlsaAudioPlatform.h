#pragma once

#include "AlsaDeviceList.h"
#include "AudioPlatform.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QSet>
#include <QTimer>
#include <memory>
#include <vector>

class TrackedOutputUnit;
class DeviceNodeWatcher;
class DeviceReservation;

// The audio platform over ALSA. Every method runs on the GUI thread; see
// AudioPlatform for what each does on failure. devicesChanged() follows the
// device nodes under /dev/snd.
//
// A PCM on a card (hw, or a configured PCM naming one) is reserved on the
// session bus before it opens (DeviceReservation): a sound server holding the
// card is asked to let it go, and the take waits (Waiting) until it answers
// and its PCM has closed, at most about two seconds after it agreed. The
// card stays reserved across tracks until handBackToDesktop(), another card's
// take, or the platform's end. A program that asks for the card gets it
// when its claim is higher than ours, or at any claim while no unit on the
// card plays (paused or idle): the card's units are closed under their
// owner first, deviceTaken() says so, and the next take asks for the card
// again. Without a session bus nothing is reserved.
//
// With a desktop sound server in front of the cards, the default device is
// the hardware PCM its default sink plays to (asked with libpulse).
class AlsaAudioPlatform : public AudioPlatform
{
    Q_OBJECT
public:
    // `deviceDirectory` is where card nodes appear; tests point it elsewhere.
    explicit AlsaAudioPlatform(QObject *parent = nullptr,
                               const QString &deviceDirectory = QStringLiteral("/dev/snd"));
    ~AlsaAudioPlatform() override;

    std::optional<QList<PlaybackDevice>> devices() override;
    std::optional<quint32> defaultOutputDevice() override;
    DeviceRefusal takeExclusiveUse(quint32 deviceId) override;
    void letGoBetweenUnits(quint32 deviceId) override;
    bool setNominalSampleRate(quint32 deviceId, double rate) override;
    OpenedUnit createOutputUnit(quint32 deviceId, const StreamFormat &trackFormat, RenderSource &source) override;
    void handBackToDesktop(quint32 deviceId) override;

    // Whether this process holds the device (for the device catalogue and
    // tests); a hardware PCM that this process opens is exclusive by nature.
    bool holdsExclusiveUse(quint32 deviceId) const { return m_held.contains(deviceId); }

    // Whether this process holds the session bus's reservation of `card`.
    bool holdsCardReservation(int card) const;

private:
    // A take that waits for another program to let a card go.
    struct PendingTake
    {
        quint32 deviceId = 0;
        QByteArray pcmName;
        int card = -1;
        QDeadlineTimer closedBy; // set once the other program agreed
    };

    std::optional<AlsaPcm> find(quint32 deviceId);
    DeviceRefusal reserveCard(const AlsaPcm &pcm);
    DeviceReservation *reservation(int card);
    void releaseCardsOtherThan(int card);
    void onGranted(int card);
    void onRefused(int card);
    void retryPendingOpen();
    void finishPendingTake(bool mayTake);
    void closeCardUnits(int card);
    bool cardPlays(int card) const;

    QList<AlsaPcm> m_pcms;
    QSet<quint32> m_held;
    QHash<quint32, double> m_nominalRates;
    DeviceNodeWatcher *m_watcher;
    QHash<int, DeviceReservation *> m_reservations;
    std::optional<PendingTake> m_pending;
    QTimer m_retryOpen;
    // The units handed out, so that a card given away can be closed under
    // the player; shared so that a unit outliving the platform stays safe.
    std::shared_ptr<std::vector<TrackedOutputUnit *>> m_units;
};
