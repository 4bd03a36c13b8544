#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>
#include <string_view>

// Which files may enter the play queue, and in what order.
namespace audiofilerule {

// The lower-case extensions the player reads: wav, aif, aiff, mp3, flac.
const QSet<QString> &supportedAudioFileExtensionSet();

// The same five, in display order, for the open-file dialog's name filter.
QStringList supportedAudioFileExtensions();

// True when the last path component has a supported extension, in any case.
// Existence, readability and content are not checked: a directory named
// "x.wav" passes.
bool isSupportedAudioFile(const QUrl &url);

// The same test on a file name as the file system spells it (UTF-8 bytes):
// the extensions are ASCII, so no decoding is needed.
bool isSupportedAudioFileName(std::string_view name);

// Keeps the supported candidates and sorts them stably by file name in
// nameorder (scalar values after composition, case-sensitive).
// Duplicates stay.
QList<QUrl> apply(const QList<QUrl> &candidates);

} // namespace audiofilerule
