#include "BenchFiles.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <random>
#include <sndfile.h>
#include <vector>

namespace {

struct Closer
{
    void operator()(SNDFILE *file) const { sf_close(file); }
};

void setMp3Bitrate(SNDFILE *file, double kbps)
{
    int mode = SF_BITRATE_MODE_CONSTANT;
    sf_command(file, SFC_SET_BITRATE_MODE, &mode, sizeof mode);
    // libsndfile maps level 0.0 to LAME's highest bitrate, 320 kbps.
    double level = std::clamp((320.0 - kbps) / 320.0, 0.0, 1.0);
    sf_command(file, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
}

void fillChunk(std::vector<float> &chunk, long long firstFrame, int rate, std::mt19937 &rng)
{
    std::uniform_real_distribution<float> noise(-0.1f, 0.1f);
    for (std::size_t i = 0; i < chunk.size() / 2; ++i) {
        const double t = double(firstFrame + (long long)i) / rate;
        const float tone = float(0.5 * std::sin(2 * std::numbers::pi * 440.0 * t));
        chunk[2 * i] = tone + noise(rng);
        chunk[2 * i + 1] = tone + noise(rng);
    }
}

} // namespace

bool writeBenchTrack(const QString &path, const BenchTrack &track, int seconds, QString *error)
{
    SF_INFO info{};
    info.samplerate = track.sampleRate;
    info.channels = 2;
    info.format = track.format;
    std::unique_ptr<SNDFILE, Closer> file(sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info));
    if (!file) {
        *error = QString::fromUtf8(sf_strerror(nullptr));
        return false;
    }
    if (track.mp3Kbps > 0)
        setMp3Bitrate(file.get(), track.mp3Kbps);
    std::mt19937 rng(7);
    std::vector<float> chunk(2 * 65536);
    const long long total = (long long)seconds * track.sampleRate;
    for (long long frame = 0; frame < total; frame += 65536) {
        const long long count = std::min<long long>(65536, total - frame);
        fillChunk(chunk, frame, track.sampleRate, rng);
        if (sf_writef_float(file.get(), chunk.data(), count) != count) {
            *error = QString::fromUtf8(sf_strerror(file.get()));
            return false;
        }
    }
    return true;
}
