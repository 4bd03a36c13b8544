#pragma once

#include "AudioPlatform.h"
#include "TrackLoader.h"

#include <QString>

// Why the player is Idle when it was asked to play: the reason a view shows
// in one short line until the next start.
enum class PlaybackFailure : quint8 {
    None,
    UnreadableFile, // a folder, a device node, empty, or a read error
    FileNotFound,
    PermissionDenied,
    NotWav, NotAiff, NotFlac, NotMp3, NotAudio, // not what its name says
    UnsupportedCoding,
    DamagedFile,
    TooLarge, // for the memory this machine can spare
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
// The failure a load's refusal of a file means.
PlaybackFailure failureOf(LoadProblem problem);

// "Could not open <device>: in use by another program", "File not found",
// "Not a FLAC file", ...; empty for None. `sampleRate` is the track's, in Hz.
QString failureText(PlaybackFailure failure, const QString &deviceName, double sampleRate);
