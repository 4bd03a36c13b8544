#include "SampleFormats.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace sampleformats {

namespace {

constexpr bool kHostBigEndian = std::endian::native == std::endian::big;

// The integer depth whose values the track's samples are; 0 for true floats.
quint32 integerDepth(const StreamFormat &format)
{
    if (format.kind != SampleKind::Float)
        return format.bitsPerSample;
    return format.bitsPerSample == 32 ? format.integerSourceBits : 0;
}

StreamFormat withLayout(StreamFormat format, SampleKind kind, quint32 bits, bool bigEndian)
{
    format.kind = kind;
    format.bitsPerSample = bits;
    format.bigEndian = bigEndian;
    if (kind != SampleKind::Float)
        format.integerSourceBits = 0;
    return format;
}

void appendUnique(std::vector<StreamFormat> &list, const StreamFormat &format)
{
    if (std::none_of(list.begin(), list.end(), [&](const StreamFormat &f) { return f == format; }))
        list.push_back(format);
}

quint32 loadBytes(const std::byte *p, quint32 bytes, bool bigEndian) noexcept
{
    quint32 raw = 0;
    for (quint32 i = 0; i < bytes; ++i) {
        const quint32 b = std::to_integer<quint32>(p[bigEndian ? i : bytes - 1 - i]);
        raw = (raw << 8) | b;
    }
    return raw;
}

void storeBytes(std::byte *p, quint32 raw, quint32 bytes, bool bigEndian) noexcept
{
    for (quint32 i = 0; i < bytes; ++i) {
        const auto b = static_cast<std::byte>(raw >> (8 * i));
        p[bigEndian ? bytes - 1 - i : i] = b;
    }
}

// One sample as a signed 32-bit value with its significant bits at the top.
qint32 loadLeftAligned(const std::byte *p, const StreamFormat &from) noexcept
{
    if (from.kind == SampleKind::Float) {
        float value;
        const quint32 raw = loadBytes(p, 4, from.bigEndian);
        std::memcpy(&value, &raw, 4);
        // Exact: the value is an integer of at most 24 bits over 2^(bits-1).
        const double scaled = std::clamp(double(value) * 2147483648.0, -2147483648.0, 2147483647.0);
        return static_cast<qint32>(scaled);
    }
    const quint32 bits = from.bitsPerSample;
    quint32 raw = loadBytes(p, from.bytesPerSample(), from.bigEndian) << (32 - bits);
    if (from.kind == SampleKind::UnsignedInt)
        raw ^= 0x80000000u;
    return static_cast<qint32>(raw);
}

double loadFloat(const std::byte *p, const StreamFormat &from) noexcept
{
    if (from.bitsPerSample == 64) {
        quint64 raw = 0;
        for (int i = 0; i < 8; ++i)
            raw = (raw << 8) | std::to_integer<quint64>(p[from.bigEndian ? i : 7 - i]);
        return std::bit_cast<double>(raw);
    }
    return double(std::bit_cast<float>(loadBytes(p, 4, from.bigEndian)));
}

// The documented rounding (see the header): exact scaling by a power of two,
// clipping outside full scale, then round half to even.
qint32 roundToInteger(double value, quint32 bits) noexcept
{
    if (std::isnan(value))
        return 0;
    const double full = std::ldexp(1.0, int(bits) - 1);
    const double scaled = std::clamp(value * full, -full, full - 1.0);
    return static_cast<qint32>(std::nearbyint(scaled));
}

void roundFloats(const std::byte *in, const StreamFormat &from, std::byte *out,
                 const StreamFormat &to, std::size_t samples) noexcept
{
    const quint32 inWidth = from.bytesPerSample();
    const quint32 outWidth = to.bytesPerSample();
    for (std::size_t s = 0; s < samples; ++s, in += inWidth, out += outWidth) {
        const qint32 value = roundToInteger(loadFloat(in, from), to.bitsPerSample);
        storeBytes(out, static_cast<quint32>(value), outWidth, to.bigEndian);
    }
}

void swapSamples(const std::byte *in, std::byte *out, quint32 width, std::size_t samples) noexcept
{
    for (std::size_t s = 0; s < samples; ++s, in += width, out += width)
        for (quint32 i = 0; i < width; ++i)
            out[i] = in[width - 1 - i];
}

} // namespace

snd_pcm_format_t alsaFormat(const StreamFormat &format)
{
    const quint32 bits = format.bitsPerSample;
    if (format.kind == SampleKind::Float) {
        if (bits == 32)
            return format.bigEndian ? SND_PCM_FORMAT_FLOAT_BE : SND_PCM_FORMAT_FLOAT_LE;
        if (bits == 64)
            return format.bigEndian ? SND_PCM_FORMAT_FLOAT64_BE : SND_PCM_FORMAT_FLOAT64_LE;
        return SND_PCM_FORMAT_UNKNOWN;
    }
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return SND_PCM_FORMAT_UNKNOWN;
    return snd_pcm_build_linear_format(int(bits), int(bits),
                                       format.kind == SampleKind::UnsignedInt, format.bigEndian);
}

std::vector<StreamFormat> losslessCandidates(const StreamFormat &track)
{
    std::vector<StreamFormat> list;
    if (!track.isValid())
        return list;
    list.push_back(track);
    if (track.bitsPerSample > 8)
        appendUnique(list, withLayout(track, track.kind, track.bitsPerSample, !track.bigEndian));
    const quint32 depth = integerDepth(track);
    if (depth == 0)
        return list;
    for (quint32 container : {8u, 16u, 24u, 32u}) {
        if (container < depth || (container == depth && track.kind == SampleKind::SignedInt))
            continue;
        for (bool bigEndian : {kHostBigEndian, !kHostBigEndian}) {
            if (container == 8 && bigEndian)
                continue;
            appendUnique(list, withLayout(track, SampleKind::SignedInt, container, bigEndian));
        }
    }
    return list;
}

std::vector<StreamFormat> roundedCandidates(const StreamFormat &track)
{
    std::vector<StreamFormat> list;
    if (!track.isValid() || track.kind != SampleKind::Float || integerDepth(track) != 0)
        return list;
    for (quint32 container : {32u, 24u, 16u})
        for (bool bigEndian : {kHostBigEndian, !kHostBigEndian})
            list.push_back(withLayout(track, SampleKind::SignedInt, container, bigEndian));
    return list;
}

std::vector<StreamFormat> outputCandidates(const StreamFormat &track)
{
    std::vector<StreamFormat> list = losslessCandidates(track);
    const std::vector<StreamFormat> rounded = roundedCandidates(track);
    list.insert(list.end(), rounded.begin(), rounded.end());
    return list;
}

PathKind pathKind(const StreamFormat &track, const StreamFormat &device)
{
    if (track.sameLayout(device))
        return PathKind::BitPerfect;
    if (track.kind == SampleKind::Float && device.kind != SampleKind::Float && integerDepth(track) == 0)
        return PathKind::Rounded;
    return PathKind::Lossless;
}

void convert(const std::byte *in, const StreamFormat &from, std::byte *out,
             const StreamFormat &to, std::size_t samples) noexcept
{
    if (pathKind(from, to) == PathKind::Rounded) {
        roundFloats(in, from, out, to, samples);
        return;
    }
    if (from.kind == to.kind && from.bitsPerSample == to.bitsPerSample) {
        if (from.bigEndian == to.bigEndian || from.bitsPerSample == 8)
            std::memcpy(out, in, samples * from.bytesPerSample());
        else
            swapSamples(in, out, from.bytesPerSample(), samples);
        return;
    }
    const quint32 inWidth = from.bytesPerSample();
    const quint32 outWidth = to.bytesPerSample();
    for (std::size_t s = 0; s < samples; ++s, in += inWidth, out += outWidth) {
        const auto value = static_cast<quint32>(loadLeftAligned(in, from));
        storeBytes(out, value >> (32 - to.bitsPerSample), outWidth, to.bigEndian);
    }
}

void writeSilence(std::byte *out, const StreamFormat &format, std::size_t samples) noexcept
{
    snd_pcm_format_set_silence(alsaFormat(format), out, unsigned(samples));
}

} // namespace sampleformats

bool StreamFormat::isValid() const
{
    const bool rateOk = sampleRate >= 1.0 && sampleRate <= kMaxSampleRate;
    const bool channelsOk = channels >= 1 && channels <= kMaxChannels;
    const bool layoutOk = kind == SampleKind::Float
                              ? (bitsPerSample == 32 || bitsPerSample == 64)
                              : (bitsPerSample == 8 || bitsPerSample == 16 || bitsPerSample == 24
                                 || bitsPerSample == 32);
    const bool unsignedOk = kind != SampleKind::UnsignedInt || bitsPerSample == 8;
    return rateOk && channelsOk && layoutOk && unsignedOk && std::isfinite(sampleRate);
}
