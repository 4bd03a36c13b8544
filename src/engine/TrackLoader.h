#pragma once

#include "StreamFormat.h"
#include "TrackBlock.h"

#include <QByteArray>
#include <optional>
#include <stop_token>
#include <variant>

// One track read whole into memory: `totalFrames` interleaved frames laid out
// as `format`, filling `block` exactly.
struct LoadedTrack
{
    TrackBlock block;
    StreamFormat format;
    qint64 totalFrames = 0;
    unsigned decodedParts = 0; // parts decoded or read raw at once, for tests and benchmarks
};

// Why a track was not loaded, in the words the listener reads
// (PlaybackFailure.h).
enum class LoadProblem : quint8 {
    Unreadable, // a folder, a device node, empty, a read error, or stopped
    Missing,
    PermissionDenied,
    NotWav, NotAiff, NotFlac, NotMp3, // its content is not what its extension names
    NotAudio,          // no extension of ours, and no content we know
    UnsupportedCoding, // a container we read, coded in a way we do not play
    Damaged,           // cut short, a broken structure, or samples that are no numbers
    TooLarge,          // beyond kMaxTrackBytes or the memory budget
};

using TrackLoad = std::variant<LoadedTrack, LoadProblem>;

// Both reads hand libsndfile 32-bit counts elsewhere; a track larger than
// this is refused rather than played partly.
inline constexpr quint64 kMaxTrackBytes = 0xFFFFFFFFull;

// Frames per read: a stop request and the float scan are checked this often.
inline constexpr qint64 kLoadChunkFrames = 1 << 16;

// Any thread; shares nothing but the process-wide memory budget. Reads
// `path` whole once the file passed CheckedAudioFile's checks: FLAC and MP3
// are decoded to interleaved 32-bit float, WAV and AIFF read raw, the data
// chunk's bytes unchanged (a partial frame at the end dropped).
//
// Returns the problem, having freed whatever it allocated, when the file is
// missing, unreadable, not a format and codec we play, shorter than its
// header announces (WAV, AIFF), empty, holds float samples that are not
// numbers or far beyond full scale, would take more than kMaxTrackBytes or
// than the memory budget allows (MemoryBudget.h), or decodes to more than a
// few thousand times its own size (a decompression bomb). The header's length
// only ever refuses early: the decode block grows as frames arrive and ends
// at the frames really decoded, so a FLAC of unknown length loads whole and
// one that claims too much holds no more than it has.
//
// Once `stop` is requested it returns Unreadable within one read of at most
// 65,536 frames, its memory already freed. `path` is the file system's
// bytes (TrackPath.h).
TrackLoad loadTrack(const QByteArray &path, std::stop_token stop = {});

// Any thread. The format loadTrack() gives `path`, read from its header
// alone; nothing when the file would be refused at once. The load itself
// still decides: a file that changes meanwhile may load otherwise or not.
std::optional<StreamFormat> loadedFormatOf(const QByteArray &path);
