#pragma once

#include <QtGlobal>
#include <sndfile.h>
#include <vector>

// An MP3 frame is decoded from bytes stored in the frames before it (the bit
// reservoir, up to 511 bytes back, which at low bitrates spans several
// frames) and from filter state the previous frame left. libsndfile's seek
// warms the decoder up for only a few frames, which is not enough at low
// bitrates: a part of a track that starts mid-stream is therefore decoded
// from a lead-in well before its first frame, and the lead-in's output is
// discarded. The decoder then stands where a decode from the start would,
// and its frames equal that decode's, sample for sample.
//
// Any thread; each call works on its own handle.
namespace mp3leadin {

// Frames decoded and discarded before a part: eight MPEG-1 frames (sixteen
// MPEG-2 frames), twice what the reservoir needs at 32 kbit/s.
inline constexpr qint64 kFrames = 8 * 1152;
// The lead-in's last frames, compared with the end of the part before: two
// MPEG-1 frames, so both granules' filter state is covered.
inline constexpr qint64 kComparedFrames = 2 * 1152;

// Positions `file` at frame `first`, having decoded the lead-in before it
// into `leadIn` (interleaved, `channels` samples a frame). False when the
// stream cannot be positioned there or ends before `first`.
bool enter(SNDFILE *file, qint64 first, quint32 channels, std::vector<float> &leadIn);

// Whether the last frames of `leadIn` equal the last frames the part before
// decoded (`before`, `beforeFrames` frames): when they do, the decoder was
// warm before the part's first frame. False when either is too short to tell.
bool continues(const std::vector<float> &leadIn, const float *before, qint64 beforeFrames, quint32 channels);

} // namespace mp3leadin
