#include "TrackListLabels.h"

#include "NowPlayingLabels.h"

#include <algorithm>
#include <cmath>

QString durationLabel(double seconds)
{
    if (!std::isfinite(seconds) || !(seconds > 0))
        return QStringLiteral("--:--");
    return formatTime(seconds);
}

QString trackCountLabel(qint64 count)
{
    return QStringLiteral("%1 %2").arg(count).arg(count == 1 ? QStringLiteral("track")
                                                              : QStringLiteral("tracks"));
}

double trackListContentHeight(qint64 count)
{
    if (count <= 0)
        return 0;
    return trackRowHeight * double(count) + trackListSpacing * double(count - 1);
}

QString trackNumberLabel(qint64 number)
{
    return QString::asprintf("%02lld", number);
}

TrackListFade fadeFor(double contentHeight, double viewportHeight, double offset)
{
    const double viewport = std::max(viewportHeight, 0.0);
    if (contentHeight <= viewport + 1)
        return {};
    const double maxOffset = std::max(contentHeight - viewport, 0.0);
    return {offset > 2, offset < maxOffset - 2};
}

double centredScrollOffset(qint64 row, qint64 count, double viewportHeight)
{
    const double step = trackRowHeight + trackListSpacing;
    const double centred = double(row) * step + trackRowHeight / 2 - viewportHeight / 2;
    return std::clamp(centred, 0.0, std::max(trackListContentHeight(count) - viewportHeight, 0.0));
}

std::optional<double> clickFraction(double width, QPointF pressPos, QPointF releasePos, double limit)
{
    if (!(width > 0))
        return std::nullopt;
    const QPointF moved = releasePos - pressPos;
    if (std::abs(moved.x()) > limit || std::abs(moved.y()) > limit)
        return std::nullopt;
    return std::clamp(releasePos.x() / width, 0.0, 1.0);
}
