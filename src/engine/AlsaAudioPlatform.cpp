#include "AlsaAudioPlatform.h"

#include "AlsaOutputUnit.h"
#include "DeviceNodeWatcher.h"
#include "DeviceReservation.h"
#include "SoundServer.h"

#include <QDBusConnection>
#include <QLoggingCategory>
#include <alsa/asoundlib.h>
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>

Q_LOGGING_CATEGORY(lcAlsa, "quorvel.alsa", QtWarningMsg)

// An ALSA unit as the platform hands it out: the platform can close it under
// its owner (the card was given to another program, the device is gone);
// from then on it renders nothing and refuses to start.
class TrackedOutputUnit final : public OutputUnit
{
public:
    TrackedOutputUnit(std::unique_ptr<AlsaOutputUnit> unit, quint32 deviceId, int card,
                      std::shared_ptr<std::vector<TrackedOutputUnit *>> registry)
        : m_unit(std::move(unit))
        , m_format(m_unit->deviceFormat())
        , m_accepted(m_unit->acceptedSettings())
        , m_deviceId(deviceId)
        , m_card(card)
        , m_registry(std::move(registry))
    {
        m_registry->push_back(this);
    }
    ~TrackedOutputUnit() override { std::erase(*m_registry, this); }

    bool start() override
    {
        m_playing = m_unit && m_unit->start();
        return m_playing;
    }
    qint64 stop() override
    {
        m_playing = false;
        return m_unit ? m_unit->stop() : 0;
    }
    StreamFormat deviceFormat() const override { return m_format; }
    AcceptedSettings acceptedSettings() const override { return m_accepted; }

    quint32 deviceId() const { return m_deviceId; }
    int card() const { return m_card; }
    bool isOpen() const { return m_unit != nullptr; }
    bool isPlaying() const { return m_playing; }
    void close()
    {
        m_playing = false;
        m_unit.reset();
    }

private:
    std::unique_ptr<AlsaOutputUnit> m_unit;
    StreamFormat m_format;
    AcceptedSettings m_accepted;
    quint32 m_deviceId;
    int m_card;
    bool m_playing = false;
    std::shared_ptr<std::vector<TrackedOutputUnit *>> m_registry;
};

namespace {

// A sound server that agreed to let a card go closes it soon after; until
// then the card's PCM answers EBUSY.
constexpr int kReleaseWaitMs = 2000;
constexpr int kRetryOpenMs = 50;
// A local sound server answers in a few milliseconds; one that hangs must
// not hold the window up for long.
constexpr auto kSoundServerPatience = std::chrono::milliseconds(250);

// ALSA prints its own errors to standard error, which belongs to nobody here
// (standard output carries the program's two diagnostics). Route them to a
// logging category that is off unless asked for; when it is off nothing is
// formatted, so the handler is harmless on any thread.
void routeAlsaError(const char *file, int line, const char *function, int err, const char *fmt, ...)
{
    if (!lcAlsa().isDebugEnabled())
        return;
    char message[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(message, sizeof message, fmt, args);
    va_end(args);
    qCDebug(lcAlsa, "%s:%d %s: %s (%d)", file, line, function, message, err);
}

} // namespace

AlsaAudioPlatform::AlsaAudioPlatform(QObject *parent, const QString &deviceDirectory)
    : AudioPlatform(parent)
    , m_watcher(new DeviceNodeWatcher(deviceDirectory, this))
    , m_units(std::make_shared<std::vector<TrackedOutputUnit *>>())
{
    snd_lib_error_set_handler(routeAlsaError);
    connect(m_watcher, &DeviceNodeWatcher::nodesChanged, this, &AudioPlatform::devicesChanged);
    m_retryOpen.setInterval(kRetryOpenMs);
    connect(&m_retryOpen, &QTimer::timeout, this, &AlsaAudioPlatform::retryPendingOpen);
}

// The units still open (a player that outlives the platform) are closed
// before their cards' reservations go.
AlsaAudioPlatform::~AlsaAudioPlatform()
{
    for (TrackedOutputUnit *unit : *m_units)
        unit->close();
    qDeleteAll(m_reservations);
}

std::optional<QList<PlaybackDevice>> AlsaAudioPlatform::devices()
{
    std::optional<QList<AlsaPcm>> pcms = enumerateAlsaPcms();
    if (!pcms)
        return std::nullopt;
    m_pcms = std::move(*pcms);
    QList<PlaybackDevice> list;
    for (const AlsaPcm &pcm : std::as_const(m_pcms))
        list.append(pcm.device);
    return list;
}

// A sound server in front of the cards hides ALSA's default card; its own
// default sink says where the desktop plays.
std::optional<quint32> AlsaAudioPlatform::defaultOutputDevice()
{
    const std::optional<QList<AlsaPcm>> pcms = enumerateAlsaPcms();
    if (!pcms)
        return std::nullopt;
    const ServerDefault server = querySoundServerDefault(kSoundServerPatience);
    return chooseDefaultDevice(*pcms, server, server.running ? std::nullopt : alsaDefaultCard());
}

// The card's reservation is checked on every take: a card we let go of
// while paused or idle is asked for again.
DeviceRefusal AlsaAudioPlatform::takeExclusiveUse(quint32 deviceId)
{
    const std::optional<AlsaPcm> pcm = find(deviceId);
    if (!pcm)
        return DeviceRefusal::Gone;
    const DeviceRefusal why = reserveCard(*pcm);
    if (why == DeviceRefusal::None)
        m_held.insert(deviceId);
    return why;
}

// Opening a hardware PCM excludes every other program by itself; the
// reservation is what makes a sound server that holds the card let it go,
// and what keeps it from taking the card back between two tracks.
DeviceRefusal AlsaAudioPlatform::reserveCard(const AlsaPcm &pcm)
{
    if (pcm.card < 0)
        return DeviceRefusal::None;
    if (m_pending && m_pending->card == pcm.card)
        return DeviceRefusal::Waiting;
    if (!QDBusConnection::sessionBus().isConnected())
        return DeviceRefusal::None; // nobody to ask: play
    releaseCardsOtherThan(pcm.card);
    switch (reservation(pcm.card)->acquire()) {
    case DeviceReservation::Outcome::Held:
        return DeviceRefusal::None;
    case DeviceReservation::Outcome::Waiting:
        m_pending = PendingTake{pcm.device.id, pcm.pcmName, pcm.card, {}};
        return DeviceRefusal::Waiting;
    case DeviceReservation::Outcome::Refused:
        break;
    }
    return DeviceRefusal::Busy;
}

DeviceReservation *AlsaAudioPlatform::reservation(int card)
{
    if (DeviceReservation *existing = m_reservations.value(card))
        return existing;
    auto *r = new DeviceReservation(QDBusConnection::sessionBus(), card, [this, card] { return cardPlays(card); });
    m_reservations.insert(card, r);
    connect(r, &DeviceReservation::granted, this, [this, card] { onGranted(card); });
    connect(r, &DeviceReservation::refused, this, [this, card] { onRefused(card); });
    // Another program takes the card: it must be closed before the answer.
    connect(r, &DeviceReservation::lost, this, [this, card] { closeCardUnits(card); });
    return r;
}

// One card plays at a time; the one left behind goes back to the others.
void AlsaAudioPlatform::releaseCardsOtherThan(int card)
{
    for (auto it = m_reservations.cbegin(); it != m_reservations.cend(); ++it) {
        if (it.key() == card)
            continue;
        const bool inUse = std::any_of(m_units->begin(), m_units->end(), [&](const TrackedOutputUnit *u) {
            return u->card() == it.key() && u->isOpen();
        });
        if (!inUse)
            it.value()->release();
    }
    if (m_pending && m_pending->card != card)
        finishPendingTake(false);
}

bool AlsaAudioPlatform::cardPlays(int card) const
{
    return std::any_of(m_units->begin(), m_units->end(),
                       [card](const TrackedOutputUnit *u) { return u->card() == card && u->isPlaying(); });
}

bool AlsaAudioPlatform::holdsCardReservation(int card) const
{
    const DeviceReservation *r = m_reservations.value(card);
    return r && r->isHeld();
}

void AlsaAudioPlatform::onGranted(int card)
{
    if (!m_pending || m_pending->card != card)
        return;
    m_pending->closedBy = QDeadlineTimer(kReleaseWaitMs);
    retryPendingOpen();
    if (m_pending)
        m_retryOpen.start();
}

void AlsaAudioPlatform::onRefused(int card)
{
    if (m_pending && m_pending->card == card)
        finishPendingTake(false);
}

// A non-blocking open fails at once with EBUSY while the other program still
// has the PCM open; anything else means it has let go (or the open will say
// why it cannot be had).
void AlsaAudioPlatform::retryPendingOpen()
{
    if (!m_pending)
        return;
    snd_pcm_t *pcm = nullptr;
    const int error = snd_pcm_open(&pcm, m_pending->pcmName.constData(), SND_PCM_STREAM_PLAYBACK,
                                   SND_PCM_NONBLOCK);
    if (error >= 0)
        snd_pcm_close(pcm);
    if (error != -EBUSY || m_pending->closedBy.hasExpired())
        finishPendingTake(true);
}

void AlsaAudioPlatform::finishPendingTake(bool mayTake)
{
    m_retryOpen.stop();
    const quint32 deviceId = std::exchange(m_pending, std::nullopt)->deviceId;
    emit deviceReady(deviceId, mayTake);
}

void AlsaAudioPlatform::closeCardUnits(int card)
{
    QList<quint32> taken;
    for (TrackedOutputUnit *unit : *m_units) {
        if (unit->isOpen() && unit->card() == card) {
            unit->close();
            taken.append(unit->deviceId());
        }
    }
    for (quint32 deviceId : taken)
        emit deviceTaken(deviceId);
}

// The reservation stays: a sound server that got the card back between two
// tracks would have to be asked for it again, and might not give it.
void AlsaAudioPlatform::letGoBetweenUnits(quint32 deviceId)
{
    m_held.remove(deviceId);
}

void AlsaAudioPlatform::handBackToDesktop(quint32 deviceId)
{
    m_held.remove(deviceId);
    const std::optional<AlsaPcm> pcm = find(deviceId);
    if (!pcm || pcm->card < 0)
        return;
    if (m_pending && m_pending->card == pcm->card) {
        m_retryOpen.stop();
        m_pending.reset(); // nobody waits for it any more
    }
    if (DeviceReservation *r = m_reservations.value(pcm->card))
        r->release();
}

bool AlsaAudioPlatform::setNominalSampleRate(quint32 deviceId, double rate)
{
    if (!find(deviceId))
        return false;
    m_nominalRates.insert(deviceId, rate);
    return true;
}

OpenedUnit AlsaAudioPlatform::createOutputUnit(quint32 deviceId, const StreamFormat &trackFormat,
                                               RenderSource &source)
{
    const std::optional<AlsaPcm> pcm = find(deviceId);
    if (!pcm)
        return DeviceRefusal::Gone;
    // The PCM opens at its nominal rate; a track at another rate would have
    // to be resampled, which never happens.
    if (m_nominalRates.value(deviceId) != trackFormat.sampleRate)
        return DeviceRefusal::Rate;
    AlsaOutputUnit::Opened opened = AlsaOutputUnit::open(pcm->pcmName, trackFormat, source);
    if (const auto *why = std::get_if<DeviceRefusal>(&opened))
        return *why;
    return std::make_unique<TrackedOutputUnit>(std::get<std::unique_ptr<AlsaOutputUnit>>(std::move(opened)),
                                               deviceId, pcm->card, m_units);
}

std::optional<AlsaPcm> AlsaAudioPlatform::find(quint32 deviceId)
{
    for (int pass = 0; pass < 2; ++pass) {
        for (const AlsaPcm &pcm : std::as_const(m_pcms))
            if (pcm.device.id == deviceId)
                return pcm;
        if (pass == 0) // a device plugged in since the last listing
            m_pcms = enumerateAlsaPcms().value_or(m_pcms);
    }
    return std::nullopt;
}
