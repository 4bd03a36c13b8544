#pragma once

#include "StreamFormat.h"
#include "TrackBlock.h"

#include <QString>
#include <optional>
#include <stop_token>

// One track read whole into memory: `totalFrames` interleaved frames laid out
// as `format`, filling `block` exactly.
struct LoadedTrack
{
    TrackBlock block;
    StreamFormat format;
    qint64 totalFrames = 0;
};

// Both reads hand libsndfile 32-bit counts elsewhere; a track larger than
// this is refused rather than played partly.
inline constexpr quint64 kMaxTrackBytes = 0xFFFFFFFFull;

// GUI thread (or any thread; it shares nothing). Reads `path` whole: "flac"
// and "mp3" (any case) are decoded to interleaved 32-bit float, everything else
// is read raw, the data chunk's bytes unchanged. Returns nothing, having freed
// whatever it allocated, when the file is missing, unreadable, truncated,
// corrupt, empty or over kMaxTrackBytes.
std::optional<LoadedTrack> loadTrack(const QString &path, std::stop_token stop = {});

// The same, by the path: true when loadTrack() takes the decode path.
bool takesDecodePath(const QString &path);
