#pragma once

#include "AlsaDeviceList.h"
#include "AudioPlatform.h"

#include <QHash>
#include <QSet>

class DeviceNodeWatcher;

// The audio platform over ALSA. Every method runs on the GUI thread; see
// AudioPlatform for what each does on failure. devicesChanged() follows the
// device nodes under /dev/snd.
class AlsaAudioPlatform : public AudioPlatform
{
    Q_OBJECT
public:
    // `deviceDirectory` is where card nodes appear; tests point it elsewhere.
    explicit AlsaAudioPlatform(QObject *parent = nullptr,
                               const QString &deviceDirectory = QStringLiteral("/dev/snd"));
    ~AlsaAudioPlatform() override;

    QList<PlaybackDevice> devices() override;
    std::optional<quint32> defaultOutputDevice() override;
    bool takeExclusiveUse(quint32 deviceId) override;
    void giveUpExclusiveUse(quint32 deviceId) override;
    bool setNominalSampleRate(quint32 deviceId, double rate) override;
    std::unique_ptr<OutputUnit> createOutputUnit(quint32 deviceId, const StreamFormat &trackFormat,
                                                 RenderSource &source) override;

    // Whether this process holds the device (for the device catalogue and
    // tests); a hardware PCM that this process opens is exclusive by nature.
    bool holdsExclusiveUse(quint32 deviceId) const { return m_held.contains(deviceId); }

private:
    std::optional<AlsaPcm> find(quint32 deviceId);
    bool reserveCard(const AlsaPcm &pcm);

    QList<AlsaPcm> m_pcms;
    QSet<quint32> m_held;
    QHash<quint32, double> m_nominalRates;
    DeviceNodeWatcher *m_watcher;
};
