#include "DeviceOutput.h"

namespace {
// The queue's next start comes within a turn of the event loop, and a sound
// server must not grab the card between two tracks.
constexpr auto kReleaseGrace = std::chrono::milliseconds(300);
constexpr auto kFailedGrace = std::chrono::milliseconds(500);
} // namespace

DeviceOutput::DeviceOutput(AudioPlatform &platform, RenderFeed &feed, QObject *parent)
    : QObject(parent)
    , m_platform(platform)
    , m_feed(feed)
{
    m_releaseGrace.setSingleShot(true);
    m_releaseGrace.setInterval(kReleaseGrace);
    connect(&m_releaseGrace, &QTimer::timeout, this, &DeviceOutput::releaseDue);
    m_failedGrace.setSingleShot(true);
    m_failedGrace.setInterval(kFailedGrace);
    connect(&m_failedGrace, &QTimer::timeout, this, &DeviceOutput::failedForGood);
}

DeviceOutput::~DeviceOutput()
{
    close();
}

std::optional<quint32> DeviceOutput::selected() const
{
    return m_preferredDeviceId ? m_preferredDeviceId : m_platform.defaultOutputDevice();
}

bool DeviceOutput::prefer(quint32 deviceId)
{
    const bool moves = m_preferredDeviceId != deviceId || (m_unit && m_deviceId != deviceId);
    m_preferredDeviceId = deviceId;
    return moves;
}

StreamFormat DeviceOutput::deviceFormat() const
{
    return m_unit ? m_unit->deviceFormat() : StreamFormat{};
}

DeviceOutput::Opened DeviceOutput::open(MemoryTrack &track, qint64 frame)
{
    const std::optional<quint32> device = selected();
    if (!device)
        return {Opening::Failed, FailureKind::NoDevice};
    m_deviceId = *device;
    keep();
    if (const DeviceRefusal why = m_platform.takeExclusiveUse(m_deviceId); why != DeviceRefusal::None) {
        if (why == DeviceRefusal::Waiting)
            return {Opening::Waiting};
        return {Opening::Failed, failureOf(why)};
    }
    if (!m_platform.setNominalSampleRate(m_deviceId, track.format.sampleRate))
        return {Opening::Failed, FailureKind::DeviceGone};
    m_feed.hand(&track, frame);
    std::variant<std::unique_ptr<OutputUnit>, FailureKind> opened = openUnit(track.format);
    if (const FailureKind *why = std::get_if<FailureKind>(&opened))
        return {Opening::Failed, *why};
    m_unit = std::move(std::get<std::unique_ptr<OutputUnit>>(opened));
    m_signalPath.set(track.format, m_unit->deviceFormat(), m_unit->acceptedSettings());
    return {Opening::Started};
}

// The unit made ready while the track decoded, when it is for this device
// and format and still starts (its card may have been given away since);
// else a new one.
std::variant<std::unique_ptr<OutputUnit>, FailureKind> DeviceOutput::openUnit(const StreamFormat &format)
{
    std::unique_ptr<OutputUnit> unit = takeReadyUnit(format);
    if (unit && unit->start())
        return unit;
    unit.reset();
    OpenedUnit opened = m_platform.createOutputUnit(m_deviceId, format, m_feed);
    if (const DeviceRefusal *why = std::get_if<DeviceRefusal>(&opened))
        return failureOf(*why);
    unit = std::move(std::get<std::unique_ptr<OutputUnit>>(opened));
    if (!unit->start())
        return FailureKind::DeviceGone;
    return unit;
}

std::unique_ptr<OutputUnit> DeviceOutput::takeReadyUnit(const StreamFormat &format)
{
    std::unique_ptr<OutputUnit> unit = std::move(m_readyUnit);
    if (unit && (m_readyDeviceId != m_deviceId || !(m_readyFormat == format)))
        unit.reset();
    return unit;
}

// The device is taken (asking a sound server to let it go, if need be) and
// configured now, so that it starts the moment the block is complete.
void DeviceOutput::prepare(const StreamFormat &format)
{
    const std::optional<quint32> device = selected();
    if (m_readyUnit || !device)
        return;
    m_deviceId = *device; // what is taken here is given back with it
    if (m_platform.takeExclusiveUse(m_deviceId) != DeviceRefusal::None
        || !m_platform.setNominalSampleRate(m_deviceId, format.sampleRate))
        return;
    OpenedUnit opened = m_platform.createOutputUnit(m_deviceId, format, m_feed);
    if (auto *unit = std::get_if<std::unique_ptr<OutputUnit>>(&opened))
        m_readyUnit = std::move(*unit);
    m_readyDeviceId = m_deviceId;
    m_readyFormat = format;
}

bool DeviceOutput::resume(qint64 frame)
{
    if (!m_unit || selected() != m_deviceId)
        return false;
    m_feed.rearm(frame);
    return m_unit->start();
}

void DeviceOutput::close()
{
    m_readyUnit.reset();
    if (m_unit) {
        m_unit->stop();
        m_unit.reset();
    }
    m_signalPath.clear();
    m_failedGrace.stop();
}

void DeviceOutput::letGo()
{
    if (m_deviceId != 0)
        m_platform.letGoBetweenUnits(m_deviceId);
}

void DeviceOutput::handBack()
{
    keep();
    if (m_deviceId != 0)
        m_platform.handBackToDesktop(m_deviceId);
}

void DeviceOutput::handBackIfClosed()
{
    if (!m_unit && m_deviceId != 0)
        m_platform.handBackToDesktop(m_deviceId);
}
