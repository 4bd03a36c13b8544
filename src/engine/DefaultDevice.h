#pragma once

#include "AlsaDeviceList.h"

#include <QList>
#include <optional>

// What a desktop sound server says of its default output: whether one
// answered, and the ALSA card and PCM device its default sink plays to
// (-1 when the sink is not on an ALSA card, a Bluetooth headset say).
struct ServerDefault
{
    bool running = false;
    int card = -1;
    int cardDevice = -1;
};

// Any thread; pure. The device the listener expects to hear first:
//   1. with a sound server, the hardware PCM its default sink plays to;
//   2. without one, device 0 of ALSA's default card;
//   3. else the first PCM by name, an HDMI or S/PDIF port only when
//      nothing else is listed (a monitor's speakers are rarely the choice).
// Nothing when `pcms` is empty.
std::optional<quint32> chooseDefaultDevice(const QList<AlsaPcm> &pcms, const ServerDefault &server,
                                           std::optional<int> alsaDefaultCard);

// Whether a device's name marks a digital port to a display or a receiver.
bool isDigitalPortName(const QString &name);
