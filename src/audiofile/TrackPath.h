#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// A track's identity is its path as the file system spells it: bytes, which
// on Linux need not be valid UTF-8 (a folder copied from an old Latin-1 or
// CP1251 disc). A QString cannot hold such bytes, and QFile::encodeName of a
// decoded name opens another file, so a track URL carries the bytes
// percent-encoded, and only what is shown replaces invalid sequences.
//
// Any thread; pure functions.
namespace trackpath {

// The file URL of the path `bytes`, which is absolute; invalid UTF-8 stays
// as %XX, so two names that differ only there stay two URLs.
QUrl urlOf(const QByteArray &bytes);

// The bytes of a local file URL's path, exactly as urlOf() took them (or as
// a dropped text/uri-list spelt them); empty for any other URL.
QByteArray bytesOf(const QUrl &url);

// A path for the eye, invalid sequences replaced (U+FFFD).
QString displayPath(const QByteArray &bytes);

} // namespace trackpath
