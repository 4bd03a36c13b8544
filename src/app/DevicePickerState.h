#pragma once

#include "SignalPath.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

class BitPerfectAudioPlayer;
class DeviceCatalogue;

// What the output-device picker shows around the catalogue's list: whether
// its popover is open, the chosen device's name (or the invitation to choose
// one), and beside it the rate the engine plays at and how the samples reach
// the device. View state, kept out of the catalogue, which lists and selects.
//
// GUI thread only.
class DevicePickerState : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Owned by ContentView")
    Q_PROPERTY(bool isPresented READ isPresented WRITE setIsPresented NOTIFY isPresentedChanged)
    Q_PROPERTY(QString deviceLabel READ deviceLabel NOTIFY deviceLabelChanged)
    Q_PROPERTY(QString sampleRateLabel READ sampleRateLabel NOTIFY sampleRateLabelChanged)
    Q_PROPERTY(SignalPath *signalPath READ signalPath CONSTANT)

public:
    DevicePickerState(DeviceCatalogue &catalogue, BitPerfectAudioPlayer &player, QObject *parent = nullptr);

    bool isPresented() const { return m_isPresented; }
    void setIsPresented(bool presented);
    // The picker's button: opens the popover, or closes it when open.
    Q_INVOKABLE void toggle() { setIsPresented(!m_isPresented); }
    // The popover's row `row`: that device plays from now on; the popover
    // closes whether or not the row still exists.
    Q_INVOKABLE void choose(int row);

    // The selected device's name, or "Select output device" while none is.
    QString deviceLabel() const;
    // The badge: the rate the engine plays at, or that it is loading.
    QString sampleRateLabel() const { return m_sampleRateLabel; }
    SignalPath *signalPath() const;

signals:
    void isPresentedChanged();
    void deviceLabelChanged();
    void sampleRateLabelChanged();

private:
    void updateSampleRateLabel();

    DeviceCatalogue &m_catalogue;
    BitPerfectAudioPlayer &m_player;
    bool m_isPresented = false;
    QString m_sampleRateLabel;
};
