#include "DevicePickerState.h"

#include "BitPerfectAudioPlayer.h"
#include "DeviceCatalogue.h"
#include "DeviceLabels.h"

DevicePickerState::DevicePickerState(DeviceCatalogue &catalogue, BitPerfectAudioPlayer &player, QObject *parent)
    : QObject(parent)
    , m_catalogue(catalogue)
    , m_player(player)
    , m_sampleRateLabel(::sampleRateLabel(player.sampleRate(), player.isLoading()))
{
    connect(&m_catalogue, &DeviceCatalogue::selectedDeviceChanged, this, &DevicePickerState::deviceLabelChanged);
    connect(&m_player, &BitPerfectAudioPlayer::sampleRateChanged, this, &DevicePickerState::updateSampleRateLabel);
    connect(&m_player, &BitPerfectAudioPlayer::isLoadingChanged, this, &DevicePickerState::updateSampleRateLabel);
}

void DevicePickerState::setIsPresented(bool presented)
{
    if (m_isPresented == presented)
        return;
    m_isPresented = presented;
    emit isPresentedChanged();
}

void DevicePickerState::choose(int row)
{
    m_catalogue.selectDevice(row);
    setIsPresented(false);
}

QString DevicePickerState::deviceLabel() const
{
    return m_catalogue.hasSelection() ? m_catalogue.selectedName() : tr("Select output device");
}

SignalPath *DevicePickerState::signalPath() const
{
    return m_player.signalPath();
}

void DevicePickerState::updateSampleRateLabel()
{
    QString label = ::sampleRateLabel(m_player.sampleRate(), m_player.isLoading());
    if (label == m_sampleRateLabel)
        return;
    m_sampleRateLabel = std::move(label);
    emit sampleRateLabelChanged();
}
