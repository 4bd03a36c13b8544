#include "DeviceLabels.h"

#include <cmath>

QString sampleRateLabel(double sampleRate, bool isLoading)
{
    if (isLoading)
        return QStringLiteral("LOADING");
    // Written as "not above zero" so that a NaN rate reads as no rate at all;
    // an infinite one has no kilohertz to print either.
    if (!(sampleRate > 0) || !std::isfinite(sampleRate))
        return QStringLiteral("READY");
    const double kilohertz = sampleRate / 1000;
    if (kilohertz == std::trunc(kilohertz))
        return QStringLiteral("%1 kHz").arg(static_cast<qint64>(kilohertz));
    return QString::asprintf("%.1f kHz", kilohertz);
}
