#pragma once

#include <QtGlobal>

// The layout of interleaved PCM frames, exact enough to describe both a file's
// stored samples and what a device accepts.
enum class SampleKind : quint8 { SignedInt, UnsignedInt, Float };

struct StreamFormat
{
    double sampleRate = 0.0;
    quint32 channels = 0;
    SampleKind kind = SampleKind::SignedInt;
    quint32 bitsPerSample = 0; // container width: 8, 16, 24 (packed), 32 or 64
    bool bigEndian = false;
    // For float frames decoded from an integer source (FLAC), the source's bit
    // depth: every value is then an integer of that many bits over 2^(bits-1),
    // which an integer device format can hold exactly. 0 when unknown.
    quint32 integerSourceBits = 0;

    quint32 bytesPerSample() const { return bitsPerSample / 8; }
    quint32 bytesPerFrame() const { return bytesPerSample() * channels; }
    // Same samples in the same bytes; the rate and the source depth aside.
    bool sameLayout(const StreamFormat &other) const
    {
        return kind == other.kind && bitsPerSample == other.bitsPerSample
               && bigEndian == other.bigEndian && channels == other.channels;
    }
    bool isValid() const;

    friend bool operator==(const StreamFormat &, const StreamFormat &) = default;
};

// Highest frame rate the engine accepts from a file header; anything above is
// taken as a corrupt header rather than a real track.
inline constexpr double kMaxSampleRate = 768000.0;
inline constexpr quint32 kMaxChannels = 64;
