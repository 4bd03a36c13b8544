#pragma once

#include "PlaybackFailure.h"

#include <QString>
#include <QUrl>
#include <QtGlobal>

#include <optional>

// Texts of the now-playing panel. Pure, so the panel only binds them and every
// missing value still has a defined text.

// "mm:ss" with unbounded minutes and no hours field; "00:00" for anything that
// is not a positive finite number of seconds.
QString formatTime(double seconds);

// "-- / --" for an empty queue, otherwise "%02d / %02d" of the 1-based index
// and the count.
QString trackPositionLabel(qint64 currentIndex, qint64 count);

// A track's file name with its extension, for the eye: one line of plain
// text, invalid UTF-8 and control characters shown as U+FFFD.
QString displayFileName(const QUrl &url);

// The file name with its extension, or "No track selected".
QString currentTrackTitle(const std::optional<QUrl> &url);

// What the Play/Pause button shows. While a track loads the output is stopped
// and a press does nothing, so the button shows that it is busy rather than
// a Play that would not play.
struct PlayPauseLook
{
    QString iconName;
    QString helpText;
    bool busy = false;
    friend bool operator==(const PlayPauseLook &, const PlayPauseLook &) = default;
};
PlayPauseLook playPauseLook(bool isPlaying, bool isLoading);

// The failure's one line on the card: "Could not open <device>: in use by
// another program", "File not found", "Not a FLAC file", ...; empty for
// none. `deviceName` names the failure's device ("the output device" when
// empty).
QString failureText(const PlaybackFailure &failure, const QString &deviceName);
