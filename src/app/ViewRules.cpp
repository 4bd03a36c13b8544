#include "ViewRules.h"

#include "waveform/TrackListLabels.h"

#include <algorithm>

bool ViewRules::showsTopFade(double contentHeight, double viewportHeight, double offset) const
{
    const TrackListFade fade = fadeFor(contentHeight, viewportHeight, offset);
    return fade.hasOverlay && fade.showTop;
}

bool ViewRules::showsBottomFade(double contentHeight, double viewportHeight, double offset) const
{
    const TrackListFade fade = fadeFor(contentHeight, viewportHeight, offset);
    return fade.hasOverlay && fade.showBottom;
}

double ViewRules::centredOffset(int row, double rowHeight, double viewportHeight, double contentHeight) const
{
    const double centred = row * rowHeight + rowHeight / 2 - viewportHeight / 2;
    return std::clamp(centred, 0.0, std::max(contentHeight - viewportHeight, 0.0));
}
