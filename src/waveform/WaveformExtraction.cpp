#include "WaveformExtraction.h"

#include "FloatSampleScan.h"
#include "RmsBuckets.h"
#include "SoundFile.h"
#include "TrackPath.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

namespace {

// The whole-file algorithm sizes one buffer by an unsigned 32-bit frame count.
constexpr qint64 maxFrames = std::numeric_limits<quint32>::max();
// About 256 KB of decoded floats per read, whatever the channel count.
constexpr qint64 chunkSamples = 1 << 16;

WaveformError failure(const QByteArray &path, const QString &reason)
{
    return {WaveformError::Failed, QStringLiteral("Cannot make the waveform of \"%1\": %2.")
                                       .arg(trackpath::displayPath(path), reason)};
}

WaveformError cancelled(const QByteArray &path)
{
    return {WaveformError::Cancelled,
            QStringLiteral("The waveform of \"%1\" was cancelled.").arg(trackpath::displayPath(path))};
}

struct Pass
{
    QList<double> samples;
    qint64 decoded = 0;
    bool overran = false; // the decoder gave more than `limit` frames
};
using PassResult = std::variant<Pass, WaveformError>;

// One read of the file from its start, bucketing at most `limit` frames.
PassResult bucketPass(SoundFile &file, const QByteArray &path, qint64 limit, qint64 bucketSize,
                      const CancellationCheck &isCancelled)
{
    const int channels = file.channels();
    const qint64 chunkFrames = std::max<qint64>(chunkSamples / channels, 1);
    std::vector<float> chunk(std::size_t(chunkFrames * channels));
    RmsBuckets buckets(bucketSize, qsizetype(std::min<qint64>(limit / bucketSize + 1, 4096)));
    Pass pass;
    while (const qint64 got = file.readFrames(chunk.data(), chunkFrames)) {
        if (isCancelled && isCancelled())
            return cancelled(path);
        if (!floatSamplesArePlausible(chunk.data(), std::size_t(got * channels)))
            return failure(path, QStringLiteral("it holds samples that are not numbers or lie far beyond "
                                                "full scale, so it is damaged"));
        const qint64 used = std::min(got, limit - pass.decoded);
        if (!buckets.add(chunk.data(), used, channels, isCancelled))
            return cancelled(path);
        pass.decoded += used;
        if (used < got) {
            pass.overran = true;
            break;
        }
    }
    if (const QString error = file.readError(); !error.isEmpty())
        return failure(path, error);
    if (isCancelled && isCancelled())
        return cancelled(path);
    pass.samples = buckets.finish();
    return pass;
}

// The reader's length, as the duration shown beside every waveform; but a
// header that states a length (any format but MP3, whose length is an
// estimate) and yields fewer frames is wrong or the file is cut, and the
// frames decoded are the track.
double durationOf(const SoundFile &file, std::optional<qint64> readerLength, qint64 decoded)
{
    qint64 frames = readerLength.value_or(decoded);
    if (!file.lengthIsEstimate())
        frames = std::min(frames, decoded);
    return file.sampleRate() > 0 ? double(frames) / double(file.sampleRate()) : 0.0;
}

// libsndfile marks a length it cannot tell (a stream without a length field)
// with its largest count; such files are counted by decoding them once.
bool lengthIsKnown(sf_count_t frames)
{
    return frames >= 0 && frames != std::numeric_limits<sf_count_t>::max();
}

QString tooLong()
{
    return QStringLiteral("it holds more than 4,294,967,295 frames, too many for a waveform");
}

// Decodes the whole file once to learn how many frames it really yields.
std::variant<qint64, WaveformError> countFrames(SoundFile &file, const QByteArray &path,
                                                const CancellationCheck &isCancelled)
{
    PassResult result = bucketPass(file, path, maxFrames, maxFrames, isCancelled);
    if (const auto *error = std::get_if<WaveformError>(&result))
        return *error;
    const Pass &pass = std::get<Pass>(result);
    if (pass.overran)
        return failure(path, tooLong());
    return pass.decoded;
}

// Buckets the file for an expected frame count. The bucket size depends on
// the count, and a decoder may yield fewer frames than announced (a truncated
// or mis-tagged MP3), so when the real count needs another bucket size the
// file is read again with that count: no chunk of it is ever kept.
WaveformResult bucketFile(SoundFile file, const QByteArray &path, qint64 expected,
                          std::optional<qint64> readerLength, int maxSamples,
                          const CancellationCheck &isCancelled)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        QString reason;
        if (attempt > 0 && !(file = SoundFile::open(path, &reason)).isOpen())
            return failure(path, reason);
        const qint64 bucketSize = waveformBucketSize(expected, maxSamples);
        PassResult result = bucketPass(file, path, expected, bucketSize, isCancelled);
        if (const auto *error = std::get_if<WaveformError>(&result))
            return *error;
        Pass &pass = std::get<Pass>(result);
        if (pass.overran)
            return failure(path, QStringLiteral("the decoder yields more frames than the file announces"));
        if (pass.decoded == 0)
            return LoadedWaveform{};
        if (waveformBucketSize(pass.decoded, maxSamples) == bucketSize)
            return LoadedWaveform{std::move(pass.samples), durationOf(file, readerLength, pass.decoded)};
        expected = pass.decoded;
    }
    return failure(path, QStringLiteral("the decoder yields a different number of frames on every read"));
}

} // namespace

WaveformResult makeWaveformData(const QUrl &url, int maxSamples, const CancellationCheck &isCancelled)
{
    if (!url.isLocalFile())
        return failure(url.toDisplayString().toUtf8(), QStringLiteral("it is not a local file"));
    const QByteArray path = trackpath::bytesOf(url);
    QString reason;
    SoundFile file = SoundFile::open(path, &reason);
    if (!file.isOpen())
        return failure(path, reason);
    const sf_count_t announced = file.frames();
    if (announced == 0)
        return LoadedWaveform{};
    if (lengthIsKnown(announced)) {
        if (announced > maxFrames)
            return failure(path, tooLong());
        return bucketFile(std::move(file), path, announced, announced, maxSamples, isCancelled);
    }
    const auto counted = countFrames(file, path, isCancelled);
    if (const auto *error = std::get_if<WaveformError>(&counted))
        return *error;
    const qint64 frames = std::get<qint64>(counted);
    if (frames == 0)
        return LoadedWaveform{};
    file = SoundFile::open(path, &reason);
    if (!file.isOpen())
        return failure(path, reason);
    return bucketFile(std::move(file), path, frames, std::nullopt, maxSamples, isCancelled);
}

qint64 waveformBucketSize(qint64 frameCount, int maxSamples)
{
    return std::max<qint64>(frameCount / std::max(maxSamples, 1), 1);
}
