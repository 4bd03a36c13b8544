#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>
#include <cstdint>
#include <memory>
#include <sndfile.h>
#include <vector>

namespace testaudio {

enum class Signal {
    FullScale,   // every sample at +1.0 (clipped to the format's largest value)
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
};

// Writes `recipe` to `path` through libsndfile, creating the path's folder,
// and returns the file's URL. A file that cannot be written ends the test
// run: nothing a test checks after it would mean anything.
QUrl writeTrack(const QString &path, const Recipe &recipe = {});

// The file name extension the player knows a libsndfile major format by.
QString extension(int format);

// The bytes of the file's audio data exactly as stored (libsndfile's raw read),
// for formats with a data chunk; empty when the file cannot be read.
QByteArray rawData(const QString &path);

// The whole file decoded by libsndfile to interleaved 32-bit float.
std::vector<float> decodedFloat(const QString &path, SF_INFO *info = nullptr);

// The whole file decoded by libsndfile to interleaved doubles: exact for
// 32- and 64-bit float files and for the MP3 decoder's float output.
std::vector<double> decodedDouble(const QString &path);

// What a true-float sample becomes on an integer device of `bits` bits, by
// the tests' own arithmetic: v * 2^(bits-1) to the nearest integer, ties to
// even, clipped to the signed range, NaN as 0; little-endian, bits/8 bytes
// each.
QByteArray roundedLittleEndian(const std::vector<double> &values, int bits);

// The whole file as libsndfile's 32-bit integers: every PCM sample shifted to
// the top of the word (a 16-bit sample s reads as s << 16, unsigned 8-bit u as
// (u - 128) << 24).
std::vector<std::int32_t> decodedInt(const QString &path);

// A fresh temporary directory for one test's files, kept when
// QUORVEL_KEEP_TEST_FILES is set.
std::unique_ptr<QTemporaryDir> makeTempDir();

} // namespace testaudio
