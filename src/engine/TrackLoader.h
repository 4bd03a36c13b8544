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
    unsigned decodedParts = 0; // decoders that ran at once (0: read raw), for tests and benchmarks
};

// Both reads hand libsndfile 32-bit counts elsewhere; a track larger than
// this is refused rather than played partly.
inline constexpr quint64 kMaxTrackBytes = 0xFFFFFFFFull;

// Any thread; shares nothing but the process-wide memory budget. Reads
// `path` whole once the file passed CheckedAudioFile's checks: FLAC and MP3
// are decoded to interleaved 32-bit float, WAV and AIFF read raw, the data
// chunk's bytes unchanged (a partial frame at the end dropped).
//
// Returns nothing, having freed whatever it allocated, when the file is
// missing, unreadable, not a format and codec we play, shorter than its
// header announces (WAV, AIFF), empty, holds float samples that are not
// numbers or far beyond full scale, would take more than kMaxTrackBytes or
// than the memory budget allows (MemoryBudget.h), or decodes to more than a
// few thousand times its own size (a decompression bomb). The header's length
// only ever refuses early: the decode block grows as frames arrive and ends
// at the frames really decoded, so a FLAC of unknown length loads whole and
// one that claims too much holds no more than it has.
//
// Once `stop` is requested it returns nothing within one read of at most
// 65,536 frames, its memory already freed.
std::optional<LoadedTrack> loadTrack(const QString &path, std::stop_token stop = {});
