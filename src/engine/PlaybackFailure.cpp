#include "PlaybackFailure.h"

FailureKind failureOf(DeviceRefusal refusal)
{
    switch (refusal) {
    case DeviceRefusal::None: return FailureKind::None;
    case DeviceRefusal::Busy:
    case DeviceRefusal::Waiting: return FailureKind::DeviceBusy;
    case DeviceRefusal::Gone: return FailureKind::DeviceGone;
    case DeviceRefusal::Rate: return FailureKind::RateRefused;
    case DeviceRefusal::Format: return FailureKind::FormatRefused;
    }
    return FailureKind::DeviceGone;
}

FailureKind failureOf(LoadProblem problem)
{
    switch (problem) {
    case LoadProblem::Unreadable: return FailureKind::UnreadableFile;
    case LoadProblem::Missing: return FailureKind::FileNotFound;
    case LoadProblem::PermissionDenied: return FailureKind::PermissionDenied;
    case LoadProblem::NotWav: return FailureKind::NotWav;
    case LoadProblem::NotAiff: return FailureKind::NotAiff;
    case LoadProblem::NotFlac: return FailureKind::NotFlac;
    case LoadProblem::NotMp3: return FailureKind::NotMp3;
    case LoadProblem::NotAudio: return FailureKind::NotAudio;
    case LoadProblem::UnsupportedCoding: return FailureKind::UnsupportedCoding;
    case LoadProblem::Damaged: return FailureKind::DamagedFile;
    case LoadProblem::TooLarge: return FailureKind::TooLarge;
    }
    return FailureKind::UnreadableFile;
}

bool concernsDevice(FailureKind kind)
{
    return kind >= FailureKind::NoDevice;
}

PlaybackFailure failureOf(FailureKind kind, quint32 deviceId, const QUrl &file, double sampleRate)
{
    PlaybackFailure failure;
    failure.kind = kind;
    if (concernsDevice(kind))
        failure.deviceId = deviceId;
    else if (kind != FailureKind::None)
        failure.file = file;
    if (kind == FailureKind::RateRefused)
        failure.sampleRate = sampleRate;
    return failure;
}

QString deviceNameOf(AudioPlatform &platform, quint32 deviceId)
{
    for (const PlaybackDevice &device : platform.devices().value_or(QList<PlaybackDevice>{}))
        if (device.id == deviceId)
            return device.name;
    return {};
}
