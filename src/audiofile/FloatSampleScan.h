#pragma once

#include <cstddef>

// Float audio lies on a scale where full scale is 1.0. A sample that is not
// a number, infinite, or more than kMaxPlausibleFloat away from zero (24 dB
// over full scale, far beyond the overs a float master or an MP3 decoder
// produces) comes from a damaged file, not from audio: played as is, it
// would reach the device as a burst at full scale or as undefined integer
// conversions. Any thread; pure.
inline constexpr float kMaxPlausibleFloat = 16.0f;

bool floatSamplesArePlausible(const float *samples, std::size_t count);

// The same over stored bytes: 32- or 64-bit IEEE floats in either byte order.
bool storedFloatsArePlausible(const std::byte *data, std::size_t bytes, unsigned bitsPerSample,
                              bool bigEndian);
