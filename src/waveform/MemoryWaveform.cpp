#include "MemoryWaveform.h"

#include "RmsBuckets.h"
#include "SoundFile.h"
#include "TrackPath.h"

#include <QtEndian>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr qint64 kChunkFrames = 1 << 16;

template<typename T>
T stored(const std::byte *at, bool bigEndian)
{
    T value;
    std::memcpy(&value, at, sizeof value);
    return bigEndian ? qFromBigEndian(value) : qFromLittleEndian(value);
}

// One stored sample as libsndfile reads it to float: integers scaled by a
// power of two (exact), doubles narrowed. NaN for a layout we never load.
float sampleAt(const std::byte *at, const StreamFormat &format)
{
    const bool big = format.bigEndian;
    const auto scaled = [](qint32 value, int bits) { return float(value) * (1.0f / float(1LL << (bits - 1))); };
    switch (format.kind) {
    case SampleKind::UnsignedInt:
        return format.bitsPerSample == 8 ? scaled(qint32(std::to_integer<int>(*at)) - 128, 8)
                                         : std::numeric_limits<float>::quiet_NaN();
    case SampleKind::SignedInt:
        switch (format.bitsPerSample) {
        case 8: return scaled(qint8(std::to_integer<int>(*at)), 8);
        case 16: return scaled(stored<qint16>(at, big), 16);
        case 24: {
            const auto byte = [at](int i) { return quint32(std::to_integer<unsigned>(at[i])); };
            const quint32 top = big ? byte(0) << 24 | byte(1) << 16 | byte(2) << 8
                                    : byte(2) << 24 | byte(1) << 16 | byte(0) << 8;
            return scaled(qint32(top), 32);
        }
        case 32: return scaled(stored<qint32>(at, big), 32);
        }
        break;
    case SampleKind::Float:
        if (format.bitsPerSample == 32)
            return std::bit_cast<float>(stored<quint32>(at, big));
        if (format.bitsPerSample == 64)
            return float(std::bit_cast<double>(stored<quint64>(at, big)));
        break;
    }
    return std::numeric_limits<float>::quiet_NaN();
}

bool layoutIsKnown(const StreamFormat &format)
{
    std::byte zero[8]{};
    return format.channels > 0 && !std::isnan(sampleAt(zero, format));
}

// The duration beside the waveform, by the streaming extraction's rule: the
// header's length, but no more than was decoded unless it is an estimate.
double durationOf(const QByteArray &path, const FramesInMemory &frames)
{
    QString reason;
    const SoundFile file = SoundFile::open(path, &reason);
    if (!file.isOpen() || file.sampleRate() <= 0)
        return frames.format.sampleRate > 0 ? double(frames.frames) / frames.format.sampleRate : 0.0;
    qint64 length = frames.frames;
    if (file.frames() >= 0 && file.frames() != std::numeric_limits<sf_count_t>::max())
        length = file.lengthIsEstimate() ? file.frames() : std::min<qint64>(file.frames(), frames.frames);
    return double(length) / double(file.sampleRate());
}

} // namespace

WaveformResult makeWaveformFromMemory(const QUrl &url, const FramesInMemory &frames, int maxSamples,
                                      const CancellationCheck &isCancelled)
{
    const QByteArray path = trackpath::bytesOf(url);
    const StreamFormat &format = frames.format;
    if (!frames.block || !layoutIsKnown(format)
        || std::size_t(frames.frames) * format.bytesPerFrame() > frames.block->size())
        return WaveformError{WaveformError::Failed,
                             QStringLiteral("Cannot make the waveform of \"%1\": its frames in memory are in a "
                                            "layout no audio file has.").arg(trackpath::displayPath(path))};
    if (frames.frames == 0)
        return LoadedWaveform{};
    const qint64 bucketSize = waveformBucketSize(frames.frames, maxSamples);
    RmsBuckets buckets(bucketSize, qsizetype(std::min<qint64>(frames.frames / bucketSize + 1, 4096)));
    // The first channel alone is bucketed: only it is turned into floats.
    std::vector<float> firstChannel(kChunkFrames);
    const std::byte *at = frames.block->data();
    for (qint64 done = 0; done < frames.frames;) {
        const qint64 count = std::min(kChunkFrames, frames.frames - done);
        for (qint64 i = 0; i < count; ++i, at += format.bytesPerFrame())
            firstChannel[std::size_t(i)] = sampleAt(at, format);
        if (!buckets.add(firstChannel.data(), count, 1, isCancelled))
            return WaveformError{WaveformError::Cancelled,
                                 QStringLiteral("The waveform of \"%1\" was cancelled.")
                                     .arg(trackpath::displayPath(path))};
        done += count;
    }
    return LoadedWaveform{buckets.finish(), durationOf(path, frames)};
}
