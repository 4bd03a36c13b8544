#include "SimulatedAudioPlatform.h"

#include "RenderPipe.h"
#include "SampleFormats.h"

#include <algorithm>

namespace {
constexpr quint32 kMaxFramesPerStep = 1u << 16;
}

class SimulatedOutputUnit final : public OutputUnit
{
public:
    SimulatedOutputUnit(SimulatedAudioPlatform &platform, quint32 deviceId, RenderSource &source,
                        const StreamFormat &track, const StreamFormat &layout)
        : m_platform(platform)
        , m_deviceId(deviceId)
        , m_source(source)
        , m_pipe(source, track, layout, kMaxFramesPerStep)
    {
        m_platform.m_units.append(this);
        m_platform.record(QStringLiteral("open %1").arg(deviceId));
    }
    ~SimulatedOutputUnit() override
    {
        stop();
        m_platform.m_units.removeOne(this);
        m_platform.record(QStringLiteral("close %1").arg(m_deviceId));
    }

    bool start() override
    {
        if (m_gone)
            return false;
        if (!std::exchange(m_running, true)) {
            m_platform.record(QStringLiteral("start %1").arg(m_deviceId));
        }
        return true;
    }
    qint64 stop() override
    {
        if (std::exchange(m_running, false))
            m_platform.record(QStringLiteral("stop %1").arg(m_deviceId));
        return 0; // no device buffer: every rendered frame was captured
    }
    StreamFormat deviceFormat() const override { return m_pipe.deviceFormat(); }
    AcceptedSettings acceptedSettings() const override
    {
        const StreamFormat &f = m_pipe.deviceFormat();
        return {QString::fromLatin1(snd_pcm_format_name(sampleformats::alsaFormat(f))),
                quint32(f.sampleRate), f.channels, false};
    }

    qint64 step(quint32 frames)
    {
        frames = std::min(frames, kMaxFramesPerStep);
        const qsizetype bytes = qsizetype(frames) * m_pipe.deviceFormat().bytesPerFrame();
        if (m_scratch.size() < bytes)
            m_scratch.resize(bytes);
        m_source.applyPendingSeek(); // no device buffer to take back
        const quint32 written = m_pipe.pull(reinterpret_cast<std::byte *>(m_scratch.data()), frames);
        if (written == 0) {
            // No device buffer to play out: the end is at once, and the
            // stream stops as a real one does.
            m_running = false;
            m_source.renderStopped(RenderEnd::PlayedOut);
            return 0;
        }
        if (m_platform.m_captureEnabled)
            m_platform.m_captured[m_deviceId].append(m_scratch.constData(), bytes);
        return written;
    }

    bool isRunning() const { return m_running && !m_gone; }
    quint32 deviceId() const { return m_deviceId; }
    void unplug()
    {
        if (!std::exchange(m_gone, true) && m_running)
            m_source.renderStopped(RenderEnd::DeviceFailed);
    }

private:
    SimulatedAudioPlatform &m_platform;
    quint32 m_deviceId;
    RenderSource &m_source;
    RenderPipe m_pipe;
    QByteArray m_scratch;
    bool m_running = false;
    bool m_gone = false;
};

SimulatedAudioPlatform::SimulatedAudioPlatform(QObject *parent)
    : AudioPlatform(parent)
{
}

SimulatedAudioPlatform::~SimulatedAudioPlatform() = default;

void SimulatedAudioPlatform::addDevice(const SimulatedDevice &device)
{
    m_devices.append(device);
    emit devicesChanged();
}

void SimulatedAudioPlatform::removeDevice(quint32 id)
{
    for (SimulatedOutputUnit *unit : std::as_const(m_units))
        if (unit->deviceId() == id)
            unit->unplug();
    m_exclusive.remove(id);
    m_devices.removeIf([id](const SimulatedDevice &d) { return d.id == id; });
    emit devicesChanged();
}

void SimulatedAudioPlatform::renameDevice(quint32 id, const QString &name)
{
    for (SimulatedDevice &d : m_devices)
        if (d.id == id)
            d.name = name;
    emit devicesChanged();
}

void SimulatedAudioPlatform::setDefaultOutputDevice(std::optional<quint32> id)
{
    m_default = id;
}

void SimulatedAudioPlatform::setBusy(quint32 id, bool busy)
{
    for (SimulatedDevice &d : m_devices)
        if (d.id == id)
            d.busy = busy;
}

std::optional<double> SimulatedAudioPlatform::nominalSampleRate(quint32 id) const
{
    const auto it = m_nominalRates.find(id);
    return it == m_nominalRates.end() ? std::nullopt : std::optional<double>(*it);
}

std::optional<QList<PlaybackDevice>> SimulatedAudioPlatform::devices()
{
    if (m_enumerationFails)
        return std::nullopt;
    QList<PlaybackDevice> list;
    for (const SimulatedDevice &d : std::as_const(m_devices))
        list.append({d.id, d.name, d.hasOutput});
    return list;
}

DeviceRefusal SimulatedAudioPlatform::takeExclusiveUse(quint32 deviceId)
{
    record(QStringLiteral("take %1").arg(deviceId));
    const SimulatedDevice *d = device(deviceId);
    if (!d)
        return DeviceRefusal::Gone;
    if (d->busy)
        return DeviceRefusal::Busy;
    m_exclusive.insert(deviceId);
    return DeviceRefusal::None;
}

void SimulatedAudioPlatform::letGoBetweenUnits(quint32 deviceId)
{
    if (m_exclusive.remove(deviceId))
        record(QStringLiteral("let-go %1").arg(deviceId));
}

bool SimulatedAudioPlatform::setNominalSampleRate(quint32 deviceId, double rate)
{
    if (!device(deviceId))
        return false;
    record(QStringLiteral("rate %1 %2").arg(deviceId).arg(rate));
    m_nominalRates.insert(deviceId, rate);
    return true;
}

OpenedUnit SimulatedAudioPlatform::createOutputUnit(quint32 deviceId, const StreamFormat &trackFormat,
                                                    RenderSource &source)
{
    const SimulatedDevice *d = device(deviceId);
    if (!d || !d->hasOutput)
        return DeviceRefusal::Gone;
    if (d->busy)
        return DeviceRefusal::Busy;
    // The device runs at its nominal rate; a track at any other rate is
    // refused rather than resampled.
    if (nominalSampleRate(deviceId) != trackFormat.sampleRate
        || (!d->supportedRates.isEmpty() && !d->supportedRates.contains(trackFormat.sampleRate)))
        return DeviceRefusal::Rate;
    const std::optional<StreamFormat> layout = acceptedLayout(*d, trackFormat);
    if (!layout)
        return DeviceRefusal::Format;
    m_openedLayouts.insert(deviceId, *layout);
    return std::make_unique<SimulatedOutputUnit>(*this, deviceId, source, trackFormat, *layout);
}

const SimulatedDevice *SimulatedAudioPlatform::device(quint32 id) const
{
    for (const SimulatedDevice &d : m_devices)
        if (d.id == id)
            return &d;
    return nullptr;
}

std::optional<StreamFormat> SimulatedAudioPlatform::acceptedLayout(const SimulatedDevice &device,
                                                                   const StreamFormat &track) const
{
    for (const StreamFormat &candidate : sampleformats::outputCandidates(track)) {
        const bool accepted = device.supportedLayouts.isEmpty()
                              || std::any_of(device.supportedLayouts.begin(),
                                             device.supportedLayouts.end(),
                                             [&](const StreamFormat &f) {
                                                 return f.kind == candidate.kind
                                                        && f.bitsPerSample == candidate.bitsPerSample
                                                        && f.bigEndian == candidate.bigEndian;
                                             });
        if (accepted)
            return candidate;
    }
    return std::nullopt;
}

SimulatedOutputUnit *SimulatedAudioPlatform::runningUnit() const
{
    for (SimulatedOutputUnit *unit : m_units)
        if (unit->isRunning())
            return unit;
    return nullptr;
}

qint64 SimulatedAudioPlatform::renderStep(quint32 frames)
{
    SimulatedOutputUnit *unit = runningUnit();
    return unit ? unit->step(frames) : -1;
}

qint64 SimulatedAudioPlatform::renderToEnd(quint32 framesPerCall, qint64 maxCalls)
{
    qint64 total = 0;
    for (qint64 call = 0; call < maxCalls; ++call) {
        const qint64 written = renderStep(framesPerCall);
        if (written < 0)
            return -1;
        if (written == 0)
            return total;
        total += written;
    }
    return -1;
}
