#pragma once

#include <QPointF>
#include <QString>
#include <QtGlobal>

#include <optional>

// Texts and rules of the queue panel and its rows, kept free of any view so
// that both the list and its tests use the same arithmetic.

inline constexpr double trackRowHeight = 58;
inline constexpr double trackListSpacing = 0;
// How far a press may travel and still count as a click on a waveform.
inline constexpr double clickMovementLimit = 3;

// "--:--" until the duration is known, then "mm:ss" with unbounded minutes.
QString durationLabel(double seconds);

// "1 track", otherwise "<n> tracks".
QString trackCountLabel(qint64 count);

// Height of every row and the gaps between them; 0 for an empty queue.
double trackListContentHeight(qint64 count);

// "%02d": 01, 02, ... 100.
QString trackNumberLabel(qint64 number);

struct TrackListFade
{
    bool showTop = false;
    bool showBottom = false;
    friend bool operator==(const TrackListFade &, const TrackListFade &) = default;
};

// The edges fade only while the content can scroll further that way; a
// point of slack keeps a content that barely overflows from fading.
TrackListFade fadeFor(double contentHeight, double viewportHeight, double offset);

// The scroll offset of a list of `count` rows that centres `row` in a
// viewport `viewportHeight` tall, as far as the content allows.
double centredScrollOffset(qint64 row, qint64 count, double viewportHeight);

// The seek fraction of a press released on a waveform of the given width, or
// nothing when the gesture moved too far to be a click.
std::optional<double> clickFraction(double width, QPointF pressPos, QPointF releasePos,
                                    double limit = clickMovementLimit);
