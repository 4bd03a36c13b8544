#pragma once

#include "AudioDevice.h"

#include <QAbstractListModel>
#include <QList>
#include <QString>
#include <optional>

class AudioPlatform;
class BitPerfectAudioPlayer;

// The output devices the user can choose from, sorted by name, with one of
// them selected. Rebuilt when asked and whenever the platform reports that
// devices came or went; a selection that survives keeps playing where it is.
//
// GUI thread only. A failing enumeration leaves the list and the selection as
// they were; nothing is ever reported to the user.
class DeviceCatalogue : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(bool hasSelection READ hasSelection NOTIFY selectedDeviceChanged)
    Q_PROPERTY(QString selectedName READ selectedName NOTIFY selectedDeviceChanged)

public:
    enum Role { IdRole = Qt::UserRole + 1, NameRole, IsSelectedRole };

    DeviceCatalogue(AudioPlatform &platform, BitPerfectAudioPlayer &player, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<AudioDevice> &devices() const { return m_devices; }
    int count() const { return int(m_devices.size()); }
    const std::optional<AudioDevice> &selectedDevice() const { return m_selected; }
    bool hasSelection() const { return m_selected.has_value(); }
    QString selectedName() const { return m_selected ? m_selected->name : QString(); }

    // Rebuilds the list and chooses the selection: the previous one if it is
    // still listed unchanged, else the system default, else the first device.
    // Tells the engine when the selection changed: the one road by which a
    // choice of device reaches playback (a playing track moves there).
    void loadAudioDevices();

    // From now on, rebuild whenever the platform's device list changes.
    void startListening();

    // The listener's choice: selects the device at `row`; a row that is not
    // listed changes nothing.
    void selectDevice(int row);

signals:
    void countChanged();
    void selectedDeviceChanged();

private:
    std::optional<QList<AudioDevice>> sortedOutputDevices() const;
    std::optional<AudioDevice> chooseSelection(const QList<AudioDevice> &devices) const;
    void replaceDevices(const QList<AudioDevice> &devices);
    bool setSelected(const std::optional<AudioDevice> &device);

    AudioPlatform &m_platform;
    BitPerfectAudioPlayer &m_player;
    QList<AudioDevice> m_devices;
    std::optional<AudioDevice> m_selected;
};
