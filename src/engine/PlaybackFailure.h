#pragma once

#include "AudioPlatform.h"
#include "TrackLoader.h"

#include <QUrl>

// What went wrong, in kinds a view turns into words.
enum class FailureKind : quint8 {
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

// Why the player is Idle when it was asked to play, as a value: the kind and
// what it concerns. The words are the view's (NowPlayingLabels), which knows
// the devices' names.
struct PlaybackFailure
{
    FailureKind kind = FailureKind::None;
    quint32 deviceId = 0;    // the device a device's failure concerns; 0 if none was known
    QUrl file;               // the track a file's failure concerns
    double sampleRate = 0.0; // the track's rate in Hz, for a refused rate

    friend bool operator==(const PlaybackFailure &, const PlaybackFailure &) = default;
};

// The failure a platform's refusal to take or open a device means.
FailureKind failureOf(DeviceRefusal refusal);
// The failure a load's refusal of a file means.
FailureKind failureOf(LoadProblem problem);
// True for the kinds that concern a device rather than the file.
bool concernsDevice(FailureKind kind);
// The failure of `kind` with what it concerns: `deviceId` for a device's,
// `file` for a file's, and the track's `sampleRate` for a refused rate.
PlaybackFailure failureOf(FailureKind kind, quint32 deviceId, const QUrl &file, double sampleRate);
// GUI thread. The name the platform lists `deviceId` by, for a failure's
// words; empty when it lists none (any more).
QString deviceNameOf(AudioPlatform &platform, quint32 deviceId);
