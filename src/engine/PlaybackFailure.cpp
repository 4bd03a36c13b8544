#include "PlaybackFailure.h"

PlaybackFailure failureOf(DeviceRefusal refusal)
{
    switch (refusal) {
    case DeviceRefusal::None: return PlaybackFailure::None;
    case DeviceRefusal::Busy:
    case DeviceRefusal::Waiting: return PlaybackFailure::DeviceBusy;
    case DeviceRefusal::Gone: return PlaybackFailure::DeviceGone;
    case DeviceRefusal::Rate: return PlaybackFailure::RateRefused;
    case DeviceRefusal::Format: return PlaybackFailure::FormatRefused;
    }
    return PlaybackFailure::DeviceGone;
}

PlaybackFailure failureOf(LoadProblem problem)
{
    switch (problem) {
    case LoadProblem::Unreadable: return PlaybackFailure::UnreadableFile;
    case LoadProblem::Missing: return PlaybackFailure::FileNotFound;
    case LoadProblem::PermissionDenied: return PlaybackFailure::PermissionDenied;
    case LoadProblem::NotWav: return PlaybackFailure::NotWav;
    case LoadProblem::NotAiff: return PlaybackFailure::NotAiff;
    case LoadProblem::NotFlac: return PlaybackFailure::NotFlac;
    case LoadProblem::NotMp3: return PlaybackFailure::NotMp3;
    case LoadProblem::NotAudio: return PlaybackFailure::NotAudio;
    case LoadProblem::UnsupportedCoding: return PlaybackFailure::UnsupportedCoding;
    case LoadProblem::Damaged: return PlaybackFailure::DamagedFile;
    case LoadProblem::TooLarge: return PlaybackFailure::TooLarge;
    }
    return PlaybackFailure::UnreadableFile;
}

namespace {

// Words for what the file itself is or lacks; none for a device.
QString fileFailureText(PlaybackFailure failure)
{
    switch (failure) {
    case PlaybackFailure::UnreadableFile: return QStringLiteral("This file could not be read");
    case PlaybackFailure::FileNotFound: return QStringLiteral("File not found");
    case PlaybackFailure::PermissionDenied: return QStringLiteral("Permission denied");
    case PlaybackFailure::NotWav: return QStringLiteral("Not a WAV file");
    case PlaybackFailure::NotAiff: return QStringLiteral("Not an AIFF file");
    case PlaybackFailure::NotFlac: return QStringLiteral("Not a FLAC file");
    case PlaybackFailure::NotMp3: return QStringLiteral("Not an MP3 file");
    case PlaybackFailure::NotAudio: return QStringLiteral("Not a WAV, AIFF, FLAC or MP3 file");
    case PlaybackFailure::UnsupportedCoding: return QStringLiteral("Audio coded in a way the player does not play");
    case PlaybackFailure::DamagedFile: return QStringLiteral("The file is damaged");
    case PlaybackFailure::TooLarge: return QStringLiteral("Too large to hold in memory");
    default: return {};
    }
}

} // namespace

QString failureText(PlaybackFailure failure, const QString &deviceName, double sampleRate)
{
    const QString device = deviceName.isEmpty() ? QStringLiteral("the output device") : deviceName;
    const QString couldNotOpen = QStringLiteral("Could not open %1: ").arg(device);
    switch (failure) {
    case PlaybackFailure::None: return {};
    case PlaybackFailure::NoDevice: return QStringLiteral("No output device");
    case PlaybackFailure::DeviceBusy: return couldNotOpen + QStringLiteral("in use by another program");
    case PlaybackFailure::DeviceGone: return couldNotOpen + QStringLiteral("not available");
    case PlaybackFailure::RateRefused:
        return couldNotOpen + QStringLiteral("does not play %1 Hz").arg(qint64(sampleRate));
    case PlaybackFailure::FormatRefused:
        return couldNotOpen + QStringLiteral("takes no format that keeps these samples");
    case PlaybackFailure::DeviceTaken: return QStringLiteral("%1 was taken by another program").arg(device);
    case PlaybackFailure::DeviceLost: return QStringLiteral("%1 stopped responding").arg(device);
    default: return fileFailureText(failure);
    }
}
