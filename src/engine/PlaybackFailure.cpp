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

QString failureText(PlaybackFailure failure, const QString &deviceName, double sampleRate)
{
    const QString device = deviceName.isEmpty() ? QStringLiteral("the output device") : deviceName;
    const QString couldNotOpen = QStringLiteral("Could not open %1: ").arg(device);
    switch (failure) {
    case PlaybackFailure::None: return {};
    case PlaybackFailure::UnreadableFile: return QStringLiteral("This file could not be read");
    case PlaybackFailure::NoDevice: return QStringLiteral("No output device");
    case PlaybackFailure::DeviceBusy: return couldNotOpen + QStringLiteral("in use by another program");
    case PlaybackFailure::DeviceGone: return couldNotOpen + QStringLiteral("not available");
    case PlaybackFailure::RateRefused:
        return couldNotOpen + QStringLiteral("does not play %1 Hz").arg(qint64(sampleRate));
    case PlaybackFailure::FormatRefused:
        return couldNotOpen + QStringLiteral("takes no format that keeps these samples");
    case PlaybackFailure::DeviceTaken: return QStringLiteral("%1 was taken by another program").arg(device);
    case PlaybackFailure::DeviceLost: return QStringLiteral("%1 stopped responding").arg(device);
    }
    return {};
}
