#pragma once

#include "StreamFormat.h"

#include <alsa/asoundlib.h>
#include <cstddef>
#include <vector>

// Pure functions over sample layouts: how a stream format is named to ALSA,
// which device formats carry a track's samples without changing a value, and
// the conversions and silence the render thread writes. All are safe on any
// thread; the conversions allocate nothing.
namespace sampleformats {

// ALSA's name for the layout, or SND_PCM_FORMAT_UNKNOWN when ALSA has none.
snd_pcm_format_t alsaFormat(const StreamFormat &format);

// Device formats that hold every sample of `track` unchanged, narrowest first:
// the track's own layout, the same with the other byte order, then wider
// signed integer containers (the value shifted left). Float tracks widen only
// when they were decoded from integers (integerSourceBits). Empty when the
// track's format is invalid.
std::vector<StreamFormat> losslessCandidates(const StreamFormat &track);

// Integer layouts for a true-float track (MP3 decoder output, 32/64-bit float
// files) on a device that takes no float layout, widest first: 32, 24 and
// 16-bit signed, each in both byte orders. Each sample is then rounded once
// (see convert()). Empty for integer tracks and for floats decoded from
// integers: those stay lossless or are refused.
std::vector<StreamFormat> roundedCandidates(const StreamFormat &track);

// Every layout a device may be opened in for `track`, in the order to try:
// losslessCandidates(), then roundedCandidates().
std::vector<StreamFormat> outputCandidates(const StreamFormat &track);

// How the samples reach a device opened in `device` for `track`.
enum class PathKind : quint8 {
    BitPerfect, // the track's bytes unchanged
    Lossless,   // every value kept, repacked (byte order, wider container)
    Rounded,    // a true-float source rounded once to an integer layout
};
PathKind pathKind(const StreamFormat &track, const StreamFormat &device);

// Converts `samples` samples from `in` (laid out as `from`) into `out` (laid
// out as `to`), which must be one of outputCandidates(from). Allocates
// nothing; meant for the render thread.
//
// The rounding of a true float to a b-bit integer: the value times 2^(b-1),
// rounded to the nearest integer with ties to even, and clipped to
// -2^(b-1)...2^(b-1)-1 only when it lies outside that range (+1.0 and above
// become the largest value); NaN becomes 0. No dither, no other change.
void convert(const std::byte *in, const StreamFormat &from, std::byte *out,
             const StreamFormat &to, std::size_t samples) noexcept;

// Writes the format's digital silence (ALSA's own pattern: 0x80 for unsigned
// 8-bit) into `samples` samples at `out`. Allocates nothing.
void writeSilence(std::byte *out, const StreamFormat &format, std::size_t samples) noexcept;

} // namespace sampleformats
