#include "NowPlayingLabels.h"

#include <cmath>

namespace {
// Far beyond any track, yet small enough that the conversion to an integer
// stays defined for absurd inputs such as 1e300.
constexpr double longestFormattedSeconds = 1e15;

// Words for what the file itself is or lacks; none for a device.
QString fileFailureText(FailureKind kind)
{
    switch (kind) {
    case FailureKind::UnreadableFile: return QStringLiteral("This file could not be read");
    case FailureKind::FileNotFound: return QStringLiteral("File not found");
    case FailureKind::PermissionDenied: return QStringLiteral("Permission denied");
    case FailureKind::NotWav: return QStringLiteral("Not a WAV file");
    case FailureKind::NotAiff: return QStringLiteral("Not an AIFF file");
    case FailureKind::NotFlac: return QStringLiteral("Not a FLAC file");
    case FailureKind::NotMp3: return QStringLiteral("Not an MP3 file");
    case FailureKind::NotAudio: return QStringLiteral("Not a WAV, AIFF, FLAC or MP3 file");
    case FailureKind::UnsupportedCoding: return QStringLiteral("Audio coded in a way the player does not play");
    case FailureKind::DamagedFile: return QStringLiteral("The file is damaged");
    case FailureKind::TooLarge: return QStringLiteral("Too large to hold in memory");
    default: return {};
    }
}
} // namespace

QString formatTime(double seconds)
{
    if (!std::isfinite(seconds) || !(seconds > 0))
        return QStringLiteral("00:00");
    const auto total = static_cast<qint64>(std::floor(std::min(seconds, longestFormattedSeconds)));
    return QString::asprintf("%02lld:%02lld", total / 60, total % 60);
}

QString trackPositionLabel(qint64 currentIndex, qint64 count)
{
    if (count <= 0)
        return QStringLiteral("-- / --");
    return QString::asprintf("%02lld / %02lld", currentIndex + 1, count);
}

QString displayFileName(const QUrl &url)
{
    // Invalid UTF-8 arrives as U+FFFD already (TrackPath.h). A control
    // character or line separator is shown the same way, so the name stays
    // one line and no byte of it goes unseen.
    QString name = url.fileName(QUrl::FullyDecoded);
    for (QChar &c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QChar(QChar::ReplacementCharacter);
    }
    return name;
}

QString currentTrackTitle(const std::optional<QUrl> &url)
{
    if (!url)
        return QStringLiteral("No track selected");
    return displayFileName(*url);
}

PlayPauseLook playPauseLook(bool isPlaying, bool isLoading)
{
    if (isLoading)
        return {QStringLiteral("pause-fill"), QStringLiteral("Loading"), true};
    if (isPlaying)
        return {QStringLiteral("pause-fill"), QStringLiteral("Pause"), false};
    return {QStringLiteral("play-fill"), QStringLiteral("Play"), false};
}

QString failureText(const PlaybackFailure &failure, const QString &deviceName)
{
    const QString device = deviceName.isEmpty() ? QStringLiteral("the output device") : deviceName;
    const QString couldNotOpen = QStringLiteral("Could not open %1: ").arg(device);
    switch (failure.kind) {
    case FailureKind::None: return {};
    case FailureKind::NoDevice: return QStringLiteral("No output device");
    case FailureKind::DeviceBusy: return couldNotOpen + QStringLiteral("in use by another program");
    case FailureKind::DeviceGone: return couldNotOpen + QStringLiteral("not available");
    case FailureKind::RateRefused:
        return couldNotOpen + QStringLiteral("does not play %1 Hz").arg(qint64(failure.sampleRate));
    case FailureKind::FormatRefused:
        return couldNotOpen + QStringLiteral("takes no format that keeps these samples");
    case FailureKind::DeviceTaken: return QStringLiteral("%1 was taken by another program").arg(device);
    case FailureKind::DeviceLost: return QStringLiteral("%1 stopped responding").arg(device);
    default: return fileFailureText(failure.kind);
    }
}
