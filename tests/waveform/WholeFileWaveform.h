#pragma once

#include "TestAudio.h"

#include <QFile>
#include <QList>
#include <QString>
#include <algorithm>
#include <cmath>
#include <limits>

// The straightforward whole-file waveform the streaming extraction must equal
// bit for bit: decode everything into one buffer, then bucket the first
// channel of the frames really decoded.
struct WholeFileWaveform
{
    bool opened = false;
    QList<double> samples;
    double duration = 0;
};

inline WholeFileWaveform wholeFileWaveform(const QString &path, int maxSamples)
{
    WholeFileWaveform out;
    SF_INFO info{};
    const std::vector<float> all = testaudio::decodedFloat(path, &info);
    SF_INFO probeInfo{};
    SNDFILE *probe = sf_open(QFile::encodeName(path).constData(), SFM_READ, &probeInfo);
    out.opened = probe != nullptr;
    sf_close(probe);
    if (!out.opened || info.frames == 0)
        return out;
    const qint64 count = qint64(all.size()) / info.channels;
    if (count == 0)
        return out;
    const qint64 bucket = std::max<qint64>(count / maxSamples, 1);
    for (qint64 s = 0; s < count; s += bucket) {
        const qint64 e = std::min(s + bucket, count);
        double sum = 0;
        for (qint64 f = s; f < e; ++f) {
            const double v = double(std::abs(all[std::size_t(f * info.channels)]));
            sum += v * v;
        }
        out.samples.append(std::sqrt(sum / double(std::max<qint64>(e - s, 1))));
    }
    // A reader that cannot tell the length knows it once everything is decoded;
    // one that states it (all but MP3, whose length is an estimate) and yields
    // fewer frames is wrong or cut short, and the frames decoded are the track.
    const bool known = info.frames != std::numeric_limits<sf_count_t>::max();
    const bool estimate = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
    const double length = double(!known ? count : estimate ? info.frames : std::min<qint64>(info.frames, count));
    out.duration = info.samplerate > 0 ? length / info.samplerate : 0.0;
    return out;
}
