#include "WindowSize.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <algorithm>
#include <cmath>

namespace windowsize {

std::optional<QSizeF> decode(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue width = object.value(QLatin1String("width"));
    const QJsonValue height = object.value(QLatin1String("height"));
    if (!width.isDouble() || !height.isDouble())
        return std::nullopt;
    return QSizeF(width.toDouble(), height.toDouble());
}

std::optional<QByteArray> encode(QSizeF size)
{
    if (!std::isfinite(size.width()) || !std::isfinite(size.height()))
        return std::nullopt;
    const QJsonObject object{{QLatin1String("width"), size.width()},
                             {QLatin1String("height"), size.height()}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QSizeF loadSavedWindowSize(const QSettings &settings)
{
    const QVariant stored = settings.value(QLatin1String(settingsKey));
    if (!stored.isValid())
        return defaultSize;
    return decode(stored.toByteArray()).value_or(defaultSize);
}

void saveWindowSize(QSettings &settings, QSizeF size)
{
    if (const auto json = encode(size))
        settings.setValue(QLatin1String(settingsKey), *json);
    else
        settings.remove(QLatin1String(settingsKey));
}

namespace {
double bounded(double value, double fallback, double minimum, double available)
{
    if (!std::isfinite(value) || value <= 0)
        value = fallback;
    const double maximum = std::isfinite(available) && available > minimum ? available : minimum;
    return std::clamp(value, minimum, maximum);
}
} // namespace

QSizeF usableSize(QSizeF remembered, QSizeF available)
{
    return {bounded(remembered.width(), defaultSize.width(), minimumSize.width(), available.width()),
            bounded(remembered.height(), defaultSize.height(), minimumSize.height(), available.height())};
}

} // namespace windowsize
