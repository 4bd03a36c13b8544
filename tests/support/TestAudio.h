#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>
#include <cstdint>
#include <memory>
#include <sndfile.hh>
#include <vector>

namespace testaudio {

enum class Signal {
    Tone,        // a sine of `frequency` Hz at half scale, same on every channel
    Noise,       // uniform white noise from `seed`, independent per channel
    LeftSilent,  // channel 0 silent, the others full-scale noise
};

struct Recipe
{
    int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16; // libsndfile major | subtype [| endian]
    int sampleRate = 44100;
    int channels = 2;
    std::int64_t frames = 4410;
    Signal signal = Signal::Tone;
    double frequency = 1000.0;
    std::uint32_t seed = 1;
    int mp3BitrateMode = -1; // SF_BITRATE_MODE_*; -1 leaves libsndfile's choice
    double mp3Level = -1;    // 0.0 (highest bitrate) to 1.0 (lowest); -1 leaves libsndfile's
};

// Writes `recipe` to `path` through libsndfile, creating the path's folder,
// and returns its URL; a file that cannot be written ends the test run.
QUrl writeTrack(const QString &path, const Recipe &recipe = {});

// The file name extension the player knows a libsndfile major format by.
QString extension(int format);

// The audio data exactly as stored (libsndfile's raw read); empty when unreadable.
QByteArray rawData(const QString &path);

// The whole file as libsndfile decodes it, interleaved: float, double (exact
// for float files and MP3), or int (every PCM sample at the top of the word).
// `info` gets what libsndfile says of the file, all zero when it cannot open it.
template<typename Sample>
std::vector<Sample> decoded(const QString &path, SF_INFO *info = nullptr)
{
    SndfileHandle file(QFile::encodeName(path).constData());
    const bool opened = file.rawHandle() != nullptr;
    if (info)
        *info = opened ? SF_INFO{file.frames(), file.samplerate(), file.channels(), file.format(), 0, 0} : SF_INFO{};
    std::vector<Sample> out;
    const std::size_t channels = opened ? std::size_t(file.channels()) : 0;
    std::vector<Sample> chunk(4096 * channels);
    for (sf_count_t got = 0; channels > 0 && (got = file.readf(chunk.data(), 4096)) > 0;)
        out.insert(out.end(), chunk.begin(), chunk.begin() + got * sf_count_t(channels));
    return out;
}

// A true-float sample on an integer device of `bits` bits, by the tests' own
// arithmetic: v * 2^(bits-1) rounded half to even, clipped, NaN as 0; little-endian.
QByteArray roundedLittleEndian(const std::vector<double> &values, int bits);

// A fresh temporary directory for one test's files, kept when QUORVEL_KEEP_TEST_FILES is set.
std::unique_ptr<QTemporaryDir> makeTempDir();

} // namespace testaudio
