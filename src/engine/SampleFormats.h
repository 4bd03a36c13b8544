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

// Converts `samples` samples from `in` (laid out as `from`) into `out` (laid
// out as `to`), which must be one of losslessCandidates(from). Allocates
// nothing; meant for the render thread.
void convert(const std::byte *in, const StreamFormat &from, std::byte *out,
             const StreamFormat &to, std::size_t samples) noexcept;

// Writes the format's digital silence (ALSA's own pattern: 0x80 for unsigned
// 8-bit) into `samples` samples at `out`. Allocates nothing.
void writeSilence(std::byte *out, const StreamFormat &format, std::size_t samples) noexcept;

} // namespace sampleformats
