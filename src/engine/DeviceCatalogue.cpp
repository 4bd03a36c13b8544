#include "DeviceCatalogue.h"

#include "AudioPlatform.h"
#include "BitPerfectAudioPlayer.h"
#include "NameOrder.h"

#include <algorithm>

DeviceCatalogue::DeviceCatalogue(AudioPlatform &platform, BitPerfectAudioPlayer &player, QObject *parent)
    : QAbstractListModel(parent)
    , m_platform(platform)
    , m_player(player)
{
}

int DeviceCatalogue::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant DeviceCatalogue::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const AudioDevice &device = m_devices.at(index.row());
    switch (role) {
    case IdRole: return device.id;
    case NameRole:
    case Qt::DisplayRole: return device.name;
    case IsSelectedRole: return m_selected == device;
    default: return {};
    }
}

QHash<int, QByteArray> DeviceCatalogue::roleNames() const
{
    return {{IdRole, "deviceId"}, {NameRole, "name"}, {IsSelectedRole, "isSelected"}};
}

void DeviceCatalogue::loadAudioDevices()
{
    const std::optional<QList<AudioDevice>> listed = sortedOutputDevices();
    if (!listed)
        return; // a failed query says nothing about the devices
    const QList<AudioDevice> &devices = *listed;
    replaceDevices(devices);
    const std::optional<AudioDevice> next = chooseSelection(devices);
    if (setSelected(next) && next)
        m_player.setOutputDevice(next->id);
}

void DeviceCatalogue::startListening()
{
    connect(&m_platform, &AudioPlatform::devicesChanged, this, &DeviceCatalogue::loadAudioDevices,
            Qt::UniqueConnection);
}

void DeviceCatalogue::selectDevice(int row)
{
    if (row >= 0 && row < count() && setSelected(m_devices.at(row)))
        m_player.setOutputDevice(m_selected->id);
}

std::optional<QList<AudioDevice>> DeviceCatalogue::sortedOutputDevices() const
{
    const std::optional<QList<PlaybackDevice>> listed = m_platform.devices();
    if (!listed)
        return std::nullopt;
    QList<AudioDevice> devices;
    for (const PlaybackDevice &device : *listed) {
        if (device.hasOutput && !device.name.isNull())
            devices.append({device.id, device.name});
    }
    std::stable_sort(devices.begin(), devices.end(), [](const AudioDevice &a, const AudioDevice &b) {
        return nameorder::less(a.name, b.name);
    });
    return devices;
}

std::optional<AudioDevice> DeviceCatalogue::chooseSelection(const QList<AudioDevice> &devices) const
{
    if (m_selected && devices.contains(*m_selected))
        return m_selected;
    if (const std::optional<quint32> fallback = m_platform.defaultOutputDevice()) {
        const auto it = std::find_if(devices.begin(), devices.end(),
                                     [&](const AudioDevice &d) { return d.id == *fallback; });
        if (it != devices.end())
            return *it;
    }
    if (!devices.isEmpty())
        return devices.first();
    return std::nullopt;
}

void DeviceCatalogue::replaceDevices(const QList<AudioDevice> &devices)
{
    const int oldCount = count();
    beginResetModel();
    m_devices = devices;
    endResetModel();
    if (count() != oldCount)
        emit countChanged();
}

bool DeviceCatalogue::setSelected(const std::optional<AudioDevice> &device)
{
    if (m_selected == device)
        return false;
    m_selected = device;
    if (!m_devices.isEmpty())
        emit dataChanged(index(0), index(count() - 1), {IsSelectedRole});
    emit selectedDeviceChanged();
    return true;
}
