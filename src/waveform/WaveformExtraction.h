#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <variant>

// One track's bar waveform: the root mean square of the first channel per
// bucket, on the decoder's float scale (full scale 1.0), never normalised.
struct LoadedWaveform
{
    QList<double> samples;
    double duration = 0; // seconds; 0 when the rate is not positive or nothing decoded
};

struct WaveformError
{
    enum Kind { Cancelled, Failed };
    Kind kind = Failed;
    QString description; // names the file and says what went wrong, for users
};

using WaveformResult = std::variant<LoadedWaveform, WaveformError>;

// Polled by a running extraction; returning true stops it with Cancelled.
using CancellationCheck = std::function<bool()>;

// Decodes the file at `url` with libsndfile (32-bit float) and returns its
// waveform of about `maxSamples` buckets. The values are exactly those of
// decoding the whole file into one buffer and bucketing it, but the file is
// streamed through a small fixed buffer, so memory does not grow with the
// track. Thread-safe and stateless; blocks while decoding, so call it off the
// GUI thread. `isCancelled` (may be empty) is polled between chunks and
// before each bucket; a cancelled extraction returns no values.
WaveformResult makeWaveformData(const QUrl &url, int maxSamples,
                                const CancellationCheck &isCancelled = {});

// Frames per bucket for a track of `frameCount` frames.
qint64 waveformBucketSize(qint64 frameCount, int maxSamples);
