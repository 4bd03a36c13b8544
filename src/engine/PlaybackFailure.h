#pragma once

#include "AudioPlatform.h"

#include <QString>

// Why the player is Idle when it was asked to play: the reason a view shows
// in one short line until the next start.
enum class PlaybackFailure : quint8 {
    None,
    UnreadableFile, // missing, unreadable, corrupt or empty
    NoDevice,       // no device chosen and no system default
    DeviceBusy,     // another program holds the device and keeps it
    DeviceGone,     // unknown, unplugged, or it failed to open
    RateRefused,    // the device does not run at the track's rate
    FormatRefused,  // the device takes no layout that keeps the samples
    DeviceTaken,    // another program took the device over while playing
    DeviceLost,     // the device vanished or failed while playing
};

// The failure a platform's refusal to take or open a device means.
PlaybackFailure failureOf(DeviceRefusal refusal);

// "Could not open <device>: in use by another program", "This file could not
// be read", ...; empty for None. `sampleRate` is the track's, in Hz.
QString failureText(PlaybackFailure failure, const QString &deviceName, double sampleRate);
