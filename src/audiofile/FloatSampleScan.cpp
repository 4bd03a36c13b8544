#include "FloatSampleScan.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

// On the magnitude bits, NaN and infinity compare above every finite value,
// so one integer maximum checks all three cases and vectorises.
template<typename Bits, typename Float, bool swapped>
bool plausible(const std::byte *data, std::size_t count)
{
    constexpr Bits magnitude = std::numeric_limits<Bits>::max() >> 1;
    constexpr Bits limit = std::bit_cast<Bits>(Float(kMaxPlausibleFloat));
    Bits worst = 0;
    for (std::size_t i = 0; i < count; ++i) {
        Bits v;
        std::memcpy(&v, data + i * sizeof v, sizeof v);
        if constexpr (swapped)
            v = sizeof v == 4 ? Bits(__builtin_bswap32(std::uint32_t(v))) : Bits(__builtin_bswap64(std::uint64_t(v)));
        worst = std::max<Bits>(worst, v & magnitude);
    }
    return worst <= limit;
}

} // namespace

bool floatSamplesArePlausible(const float *samples, std::size_t count)
{
    return plausible<std::uint32_t, float, false>(reinterpret_cast<const std::byte *>(samples), count);
}

bool storedFloatsArePlausible(const std::byte *data, std::size_t bytes, unsigned bitsPerSample, bool bigEndian)
{
    const bool swapped = bigEndian != (std::endian::native == std::endian::big);
    if (bitsPerSample == 64)
        return swapped ? plausible<std::uint64_t, double, true>(data, bytes / 8)
                       : plausible<std::uint64_t, double, false>(data, bytes / 8);
    return swapped ? plausible<std::uint32_t, float, true>(data, bytes / 4)
                   : plausible<std::uint32_t, float, false>(data, bytes / 4);
}
