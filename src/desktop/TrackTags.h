#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// What a track's own tags say of it, as the desktop's player controls show
// it. Every field may be empty: a file without tags, or with a damaged tag
// block, reads as no tags at all.
struct TrackTags
{
    QString title;
    QStringList artists;
    QString album;
    int trackNumber = 0;          // 0: none
    qint64 lengthMicroseconds = 0; // the tag reader's estimate; 0: unknown
    QUrl coverURL;                 // a copy in the cache folder; empty: none

    bool operator==(const TrackTags &) const = default;
};

namespace tracktags {

// Reads the tags of the audio file at `path` with TagLib, and its front cover:
// the embedded one (FLAC pictures, ID3v2 APIC frames in MP3, WAV and AIFF),
// else a cover.jpg or folder.jpg beside it. A cover is written to
// `coverFolder` under a name taken from its content, once. Blocks on the
// file: call it off the GUI thread. Never throws; anything but a regular file
// gives empty tags.
TrackTags read(const QString &path, const QString &coverFolder);

// Writes `image` to `coverFolder` unless a copy is there already, and returns
// its URL; empty when it cannot be written or is no JPEG or PNG.
QUrl storeCover(const QByteArray &image, const QString &coverFolder);

} // namespace tracktags
