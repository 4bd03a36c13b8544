#include "NowPlayingLabels.h"

#include <cmath>

namespace {
// Far beyond any track, yet small enough that the conversion to an integer
// stays defined for absurd inputs such as 1e300.
constexpr double longestFormattedSeconds = 1e15;
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
