#include "TestAudio.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace testaudio {

// The samples written, interleaved, on the [-1, 1] scale.
static std::vector<double> samples(const Recipe &recipe)
{
    const auto channels = static_cast<std::size_t>(recipe.channels);
    std::vector<double> out(static_cast<std::size_t>(recipe.frames) * channels);
    std::mt19937 rng(recipe.seed);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    for (std::size_t frame = 0; frame < static_cast<std::size_t>(recipe.frames); ++frame) {
        const double t = double(frame) / recipe.sampleRate;
        for (std::size_t c = 0; c < channels; ++c) {
            if (recipe.signal == Signal::Tone)
                out[frame * channels + c] = 0.5 * std::sin(2.0 * std::numbers::pi * recipe.frequency * t);
            else if (recipe.signal == Signal::Noise || c > 0) // LeftSilent's channel 0 stays 0.0
                out[frame * channels + c] = noise(rng);
        }
    }
    return out;
}

QUrl writeTrack(const QString &path, const Recipe &recipe)
{
    QDir().mkpath(QFileInfo(path).path());
    SndfileHandle file(QFile::encodeName(path).constData(), SFM_WRITE, recipe.format, recipe.channels,
                       recipe.sampleRate);
    // Noise near +1.0 rounds past what integer formats hold: clip it, not wrap.
    file.command(SFC_SET_CLIPPING, nullptr, SF_TRUE);
    int mode = recipe.mp3BitrateMode;
    double level = recipe.mp3Level;
    if (mode >= 0)
        file.command(SFC_SET_BITRATE_MODE, &mode, sizeof mode);
    if (level >= 0)
        file.command(SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
    const auto data = samples(recipe);
    if (!file.rawHandle() || file.writef(data.data(), recipe.frames) != recipe.frames)
        qFatal("cannot write the test track %s: %s", qPrintable(path), file.strError());
    return QUrl::fromLocalFile(path);
}

QString extension(int format)
{
    switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_AIFF: return QStringLiteral("aiff");
    case SF_FORMAT_FLAC: return QStringLiteral("flac");
    case SF_FORMAT_MPEG: return QStringLiteral("mp3");
    default: return QStringLiteral("wav");
    }
}

QByteArray rawData(const QString &path)
{
    SndfileHandle file(QFile::encodeName(path).constData());
    // A raw read wants a whole number of frames.
    const int sampleBytes = [&] {
        switch (file.format() & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8: case SF_FORMAT_PCM_U8: return 1;
        case SF_FORMAT_PCM_16: return 2;
        case SF_FORMAT_PCM_24: return 3;
        case SF_FORMAT_PCM_32: case SF_FORMAT_FLOAT: return 4;
        case SF_FORMAT_DOUBLE: return 8;
        default: return 0;
        }
    }();
    QByteArray bytes;
    if (!file.rawHandle() || sampleBytes == 0)
        return bytes;
    char chunk[1 << 16];
    const sf_count_t slice = sf_count_t(sizeof chunk) / (sampleBytes * file.channels()) * sampleBytes * file.channels();
    for (sf_count_t got = 0; (got = file.readRaw(chunk, slice)) > 0;)
        bytes.append(chunk, qsizetype(got));
    return bytes;
}

// Floor and a fraction: it shares nothing with the engine's rounding.
QByteArray roundedLittleEndian(const std::vector<double> &values, int bits)
{
    const long double full = std::pow(2.0L, bits - 1);
    QByteArray out;
    for (double v : values) {
        const long double x = v * full;
        long double r = 0;
        if (x >= full - 1) {
            r = full - 1;
        } else if (x <= -full) {
            r = -full;
        } else if (!std::isnan(x)) {
            const long double down = std::floor(x), fraction = x - down;
            const bool even = std::fmod(down, 2.0L) == 0;
            r = fraction > 0.5L || (fraction == 0.5L && !even) ? down + 1 : down;
        }
        const auto word = quint64(qint64(r));
        for (int i = 0; i < bits / 8; ++i)
            out.append(char(word >> (8 * i)));
    }
    return out;
}

std::unique_ptr<QTemporaryDir> makeTempDir()
{
    auto dir = std::make_unique<QTemporaryDir>();
    dir->setAutoRemove(qEnvironmentVariableIsEmpty("QUORVEL_KEEP_TEST_FILES"));
    return dir;
}

} // namespace testaudio
