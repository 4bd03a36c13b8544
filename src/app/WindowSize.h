#pragma once

#include <QByteArray>
#include <QSizeF>
#include <optional>

class QSettings;

// The remembered window size, kept under "SavedWindowSize" as the compact
// UTF-8 JSON object {"width":…,"height":…}.
namespace windowsize {

inline constexpr QSizeF defaultSize{600.0, 700.0};
inline constexpr QSizeF minimumSize{600.0, 700.0};
inline constexpr char settingsKey[] = "SavedWindowSize";

// Both members present and JSON numbers; anything else is not a size.
std::optional<QSizeF> decode(const QByteArray &json);

// Nothing when a member is not finite: JSON cannot hold it.
std::optional<QByteArray> encode(QSizeF size);

// The stored size as stored, or the default when none can be decoded.
QSizeF loadSavedWindowSize(const QSettings &settings);

// Stores the size; a size JSON cannot hold removes the key instead.
void saveWindowSize(QSettings &settings, QSizeF size);

// The size to open the window at: the remembered one unless it would make the
// window unusable. Non-finite or non-positive members fall back to the
// default; the rest is bounded by the minimum size and the available screen
// area (the minimum wins on a screen smaller than it).
QSizeF usableSize(QSizeF remembered, QSizeF available);

} // namespace windowsize
