// Writes the seed corpus of the fuzz targets: a small good file of every
// family and layout the player reads, and every hostile-file reproducer, each
// behind the byte that gives it its name back.
//
//   quorvel_fuzz_seeds <directory>
#include "FuzzInput.h"
#include "HostileFiles.h"
#include "TestAudio.h"
#include "TestFiles.h"

#include <QTemporaryDir>
#include <cstdio>

namespace {

bool addSeed(const QString &source, const QString &name, const QDir &out)
{
    const QByteArray content = testfiles::readAll(source);
    return !content.isEmpty() && testfiles::writeAll(out.filePath(name + ".seed"), fuzzSelectorFor(name) + content);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2)
        return std::fprintf(stderr, "usage: %s <directory>\n", argv[0]), 2;
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir scratch;
    const struct
    {
        const char *name;
        int format;
    } good[] = {
        {"pcm16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16}, {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {"pcm24.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24}, {"rf64.wav", SF_FORMAT_RF64 | SF_FORMAT_PCM_16},
        {"pcm16.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16}, {"float.aif", SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
        {"pcm16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16}, {"pcm24.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {"layer3.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
    };
    int written = 0;
    for (const auto &file : good) {
        const QString path = scratch.filePath(file.name);
        testaudio::writeTrack(path, {file.format, 44100, 2, 1500, testaudio::Signal::Tone});
        written += addSeed(path, file.name, out);
    }
    for (const hostile::Reproducer &file : hostile::reproducers()) {
        const QString path = scratch.filePath(file.name);
        written += file.write(path) && addSeed(path, file.name, out);
    }
    std::printf("%d seeds in %s\n", written, argv[1]);
    return 0;
}
