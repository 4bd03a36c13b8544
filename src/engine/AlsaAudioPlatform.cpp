#include "AlsaAudioPlatform.h"

#include "AlsaOutputUnit.h"
#include "DeviceNodeWatcher.h"

#include <QLoggingCategory>
#include <alsa/asoundlib.h>
#include <cstdarg>
#include <cstdio>

Q_LOGGING_CATEGORY(lcAlsa, "quorvel.alsa", QtWarningMsg)

namespace {

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
{
    snd_lib_error_set_handler(routeAlsaError);
    connect(m_watcher, &DeviceNodeWatcher::nodesChanged, this, &AudioPlatform::devicesChanged);
}

AlsaAudioPlatform::~AlsaAudioPlatform() = default;

QList<PlaybackDevice> AlsaAudioPlatform::devices()
{
    m_pcms = enumerateAlsaPcms();
    QList<PlaybackDevice> list;
    for (const AlsaPcm &pcm : std::as_const(m_pcms))
        list.append(pcm.device);
    return list;
}

std::optional<quint32> AlsaAudioPlatform::defaultOutputDevice()
{
    return alsaDefaultDevice(enumerateAlsaPcms());
}

bool AlsaAudioPlatform::takeExclusiveUse(quint32 deviceId)
{
    const std::optional<AlsaPcm> pcm = find(deviceId);
    if (!pcm || (!m_held.contains(deviceId) && !reserveCard(*pcm)))
        return false;
    m_held.insert(deviceId);
    return true;
}

// Opening a hardware PCM already excludes every other program, so there is
// nothing to do yet. A sound server that holds the card is to be asked here
// to release it (the session bus's device reservation protocol).
bool AlsaAudioPlatform::reserveCard(const AlsaPcm &)
{
    return true;
}

void AlsaAudioPlatform::giveUpExclusiveUse(quint32 deviceId)
{
    m_held.remove(deviceId);
}

bool AlsaAudioPlatform::setNominalSampleRate(quint32 deviceId, double rate)
{
    if (!find(deviceId))
        return false;
    m_nominalRates.insert(deviceId, rate);
    return true;
}

std::unique_ptr<OutputUnit> AlsaAudioPlatform::createOutputUnit(quint32 deviceId,
                                                                const StreamFormat &trackFormat,
                                                                RenderSource &source)
{
    const std::optional<AlsaPcm> pcm = find(deviceId);
    // The PCM opens at its nominal rate; a track at another rate would have
    // to be resampled, which never happens.
    if (!pcm || m_nominalRates.value(deviceId) != trackFormat.sampleRate)
        return nullptr;
    return AlsaOutputUnit::open(pcm->pcmName, trackFormat, source);
}

std::optional<AlsaPcm> AlsaAudioPlatform::find(quint32 deviceId)
{
    for (int pass = 0; pass < 2; ++pass) {
        for (const AlsaPcm &pcm : std::as_const(m_pcms))
            if (pcm.device.id == deviceId)
                return pcm;
        if (pass == 0)
            m_pcms = enumerateAlsaPcms(); // a device plugged in since the last listing
    }
    return std::nullopt;
}
