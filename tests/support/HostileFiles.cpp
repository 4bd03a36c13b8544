#include "HostileFiles.h"

#include "TestAudio.h"
#include "TestFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <bit>
#include <limits>

namespace hostile {

namespace {

QByteArray le32(quint32 v) { QByteArray b(4, 0); qToLittleEndian(v, b.data()); return b; }
QByteArray le16(quint16 v) { QByteArray b(2, 0); qToLittleEndian(v, b.data()); return b; }

QByteArray chunk(const char *id, const QByteArray &content, quint32 size)
{
    return QByteArray(id, 4) + le32(size) + content;
}

// libsndfile 1.2.0 adds a subchunk's size to the bytes read in 32 bits: this
// one wraps it to zero, and the parser jumps back to the same subchunk forever.
QByteArray wrappingList()
{
    const QByteArray sub = chunk("abcd", QByteArray(12, 0), 0xfffffff4u);
    return chunk("LIST", "INFO" + sub, quint32(4 + sub.size()));
}

QByteArray floats(std::initializer_list<float> values)
{
    QByteArray bytes;
    for (const float v : values)
        bytes += le32(std::bit_cast<quint32>(v));
    return bytes;
}

bool cut(const QString &path, qint64 bytes) { return QFile::resize(path, QFileInfo(path).size() - bytes); }

bool audio(const QString &path, int format, int rate = 44100, int channels = 2, qint64 frames = 1000)
{
    testaudio::writeTrack(path, {format, rate, channels, frames, testaudio::Signal::Tone});
    return true;
}

// A stored sample of an AIFF-C double file replaced by NaN (big-endian).
bool nanInAiff(const QString &path)
{
    audio(path, SF_FORMAT_AIFF | SF_FORMAT_DOUBLE, 44100, 1, 100);
    QByteArray bytes = testfiles::readAll(path);
    const qsizetype at = bytes.indexOf("SSND") + 16 + 8 * 10;
    qToBigEndian(std::bit_cast<quint64>(std::numeric_limits<double>::quiet_NaN()), bytes.data() + at);
    return testfiles::writeAll(path, bytes);
}

Reproducer refused(const char *name, int format, int rate = 44100, int channels = 2)
{
    return {name, [=](const QString &p) { return audio(p, format, rate, channels); }, -1, true};
}

// A FLAC file whose STREAMINFO claims `total` frames.
Reproducer claiming(const char *name, int format, int rate, int channels, qint64 frames, quint64 total, qint64 loaded)
{
    return {name, [=](const QString &p) { return audio(p, format, rate, channels, frames) && setFlacTotalFrames(p, total); },
            loaded, false};
}

Reproducer rawWav(const char *name, const QByteArray &bytes, qint64 frames = -1)
{
    return {name, [bytes](const QString &p) { return testfiles::writeAll(p, bytes); }, frames, frames < 0};
}

} // namespace

QByteArray wavFile(quint16 formatTag, quint16 channels, quint32 rate, quint16 bits, const QByteArray &data,
                   const QByteArray &chunks)
{
    const quint16 align = quint16(channels * bits / 8);
    const QByteArray fmt = le16(formatTag) + le16(channels) + le32(rate) + le32(rate * align) + le16(align) + le16(bits);
    const QByteArray body = "WAVE" + chunk("fmt ", fmt, 16) + chunks + chunk("data", data, quint32(data.size()));
    return chunk("RIFF", body, quint32(body.size()));
}

bool setFlacTotalFrames(const QString &path, quint64 total)
{
    QByteArray bytes = testfiles::readAll(path);
    if (bytes.size() < 26)
        return false;
    // STREAMINFO: 4-byte marker, 4-byte block header, then the count sits
    // in the low 36 bits of the 8 bytes at 18.
    quint64 word = qFromBigEndian<quint64>(bytes.constData() + 18);
    word = (word & ~0xFFFFFFFFFull) | (total & 0xFFFFFFFFFull);
    qToBigEndian(word, bytes.data() + 18);
    return testfiles::writeAll(path, bytes);
}

bool dropXingFrame(const QString &path)
{
    QByteArray bytes = testfiles::readAll(path);
    if (bytes.size() < 4)
        return false;
    const quint32 header = qFromBigEndian<quint32>(bytes.constData());
    static const int kbps[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int rates[4] = {44100, 48000, 32000, 0};
    // Frame sync, MPEG-1, layer III.
    if ((header & 0xFFFE0000u) != 0xFFFA0000u || kbps[(header >> 12) & 15] == 0 || rates[(header >> 10) & 3] == 0)
        return false;
    const int length = 144000 * kbps[(header >> 12) & 15] / rates[(header >> 10) & 3] + int((header >> 9) & 1);
    const QByteArray frame = bytes.left(length);
    if (!frame.contains("Xing") && !frame.contains("Info"))
        return false;
    return testfiles::writeAll(path, bytes.mid(length));
}

std::vector<Reproducer> reproducers()
{
    const QByteArray pcm(40, '\x01');
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    return {
        rawWav("list-subchunk-wraps.wav", wavFile(1, 2, 44100, 16, pcm, wrappingList())),
        rawWav("wrapping-list-after-the-riff.wav", wavFile(1, 2, 44100, 16, pcm) + wrappingList()),
        rawWav("list-subchunk-overruns.wav",
               wavFile(1, 2, 44100, 16, pcm, chunk("LIST", "INFO" + chunk("INAM", "abcd", 1000), 16))),
        rawWav("chunk-larger-than-file.wav", wavFile(1, 2, 44100, 16, pcm, chunk("JUNK", "", 0xfffffff0u))),
        rawWav("nms-adpcm-tag.wav", wavFile(0x38, 1, 8000, 16, pcm)),
        rawWav("nan.wav", wavFile(3, 1, 44100, 32, floats({0.0f, nan, 0.5f}))),
        rawWav("infinity.wav", wavFile(3, 1, 44100, 32, floats({0.0f, -inf}))),
        rawWav("far-beyond-full-scale.wav", wavFile(3, 1, 44100, 32, floats({0.25f, 1e6f}))),
        rawWav("over-full-scale.wav", wavFile(3, 1, 44100, 32, floats({1.5f, -1.5f, 0.0f})), 3),
        {"nan-double.aiff", nanInAiff, -1, true},
        refused("nms-adpcm.wav", SF_FORMAT_WAV | SF_FORMAT_NMS_ADPCM_16, 8000, 1),
        refused("alac-in-caf.flac", SF_FORMAT_CAF | SF_FORMAT_ALAC_16),
        refused("vorbis-in-ogg.mp3", SF_FORMAT_OGG | SF_FORMAT_VORBIS),
        refused("vorbis-in-ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS),
        refused("ircam.aiff", SF_FORMAT_IRCAM | SF_FORMAT_PCM_16),
        refused("ima-adpcm.aiff", SF_FORMAT_AIFF | SF_FORMAT_IMA_ADPCM),
        refused("flac-named.wav", SF_FORMAT_FLAC | SF_FORMAT_PCM_16),
        {"w64-cut.wav", [](const QString &p) { return audio(p, SF_FORMAT_W64 | SF_FORMAT_PCM_16) && cut(p, 100); }, -1, true},
        {"rf64-cut.wav", [](const QString &p) { return audio(p, SF_FORMAT_RF64 | SF_FORMAT_PCM_16) && cut(p, 100); }, -1, true},
        // Headers that claim gigabytes from kilobytes are refused at once;
        // the waveform, which streams, shows the frames really there.
        claiming("8ch-384k-claiming-4gib.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 384000, 8, 8192, 130'000'000, -1),
        claiming("claiming-2^29-frames.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, 1200, 1ull << 29, -1),
        claiming("unknown-length.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, 5000, 0, 5000),
    };
}

} // namespace hostile
