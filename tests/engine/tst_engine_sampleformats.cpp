// Golden arrays for the conversions the render thread applies when a device
// does not take a track's own layout: each must keep every sample value, but
// for the one rounding of a true-float track, checked against a rounding of
// the test's own.
#include "AlsaOutputUnit.h"
#include "SampleFormats.h"
#include "TestAudio.h"

#include <QRandomGenerator>
#include <QTest>
#include <cmath>
#include <limits>

Q_DECLARE_METATYPE(StreamFormat)

namespace {

StreamFormat layout(SampleKind kind, quint32 bits, bool bigEndian, quint32 sourceBits = 0)
{
    StreamFormat f;
    f.sampleRate = 48000;
    f.channels = 1;
    f.kind = kind;
    f.bitsPerSample = bits;
    f.bigEndian = bigEndian;
    f.integerSourceBits = sourceBits;
    return f;
}

QByteArray floatsLE(std::initializer_list<float> values)
{
    QByteArray out;
    for (float v : values)
        out.append(reinterpret_cast<const char *>(&v), 4);
    return out;
}

QByteArray reversedEach(const QByteArray &in, int width)
{
    QByteArray out = in;
    for (int i = 0; i < in.size(); i += width)
        for (int b = 0; b < width; ++b)
            out[i + b] = in[i + width - 1 - b];
    return out;
}

QByteArray encoded(const std::vector<double> &values, const StreamFormat &f)
{
    QByteArray out;
    for (double v : values) {
        const float single = float(v);
        out.append(f.bitsPerSample == 32 ? reinterpret_cast<const char *>(&single) : reinterpret_cast<const char *>(&v),
                   int(f.bytesPerSample()));
    }
    return f.bigEndian ? reversedEach(out, int(f.bytesPerSample())) : out;
}

const StreamFormat S8 = layout(SampleKind::SignedInt, 8, false);
const StreamFormat U8 = layout(SampleKind::UnsignedInt, 8, false);
const StreamFormat S16LE = layout(SampleKind::SignedInt, 16, false), S16BE = layout(SampleKind::SignedInt, 16, true);
const StreamFormat S24LE = layout(SampleKind::SignedInt, 24, false);
const StreamFormat S32LE = layout(SampleKind::SignedInt, 32, false), S32BE = layout(SampleKind::SignedInt, 32, true);
const StreamFormat F32LE = layout(SampleKind::Float, 32, false), F32BE = layout(SampleKind::Float, 32, true);
const StreamFormat F64LE = layout(SampleKind::Float, 64, false), F64BE = layout(SampleKind::Float, 64, true);

} // namespace

class SampleFormatsTest : public QObject
{
    Q_OBJECT

private slots:
    void convertsWithoutChangingValues_data();
    void convertsWithoutChangingValues();
    void roundsTrueFloatsOnce_data();
    void roundsTrueFloatsOnce();
    void kernelRecordIsRead_data();
    void kernelRecordIsRead();
};

void SampleFormatsTest::convertsWithoutChangingValues_data()
{
    QTest::addColumn<StreamFormat>("from");
    QTest::addColumn<QByteArray>("in");
    QTest::addColumn<StreamFormat>("to");
    QTest::addColumn<QByteArray>("out");

    QTest::newRow("s16be to s16le") << S16BE << QByteArray("\x12\x34\x80\x00", 4) << S16LE
                                    << QByteArray("\x34\x12\x00\x80", 4);
    QTest::newRow("s16le to s32be") << S16LE << QByteArray("\x34\x12", 2) << S32BE
                                    << QByteArray("\x12\x34\x00\x00", 4);
    QTest::newRow("u8 to s8") << U8 << QByteArray("\x80\x00\xff", 3) << S8
                              << QByteArray("\x00\x80\x7f", 3);
    QTest::newRow("s8 to s24le") << S8 << QByteArray("\x81\x01", 2) << S24LE
                                 << QByteArray("\x00\x00\x81\x00\x00\x01", 6);
    QTest::newRow("float from 16-bit to s16le")
        << layout(SampleKind::Float, 32, false, 16) << floatsLE({-1.0f, 0.5f, 32767.0f / 32768.0f})
        << S16LE << QByteArray("\x00\x80\x00\x40\xff\x7f", 6);
    QTest::newRow("float from 24-bit to s32le")
        << layout(SampleKind::Float, 32, false, 24) << floatsLE({-8388607.0f / 8388608.0f})
        << S32LE << QByteArray("\x00\x01\x00\x80", 4);
    QTest::newRow("float32 be to le") << F32BE << reversedEach(floatsLE({0.25f, -0.1f}), 4) << F32LE
                                      << floatsLE({0.25f, -0.1f});
    const double d = -0.123456789012345;
    const QByteArray doubleLE(reinterpret_cast<const char *>(&d), 8);
    QTest::newRow("float64 be to le") << F64BE << reversedEach(doubleLE, 8) << F64LE << doubleLE;
}

void SampleFormatsTest::convertsWithoutChangingValues()
{
    QFETCH(StreamFormat, from);
    QFETCH(QByteArray, in);
    QFETCH(StreamFormat, to);
    QFETCH(QByteArray, out);
    const auto candidates = sampleformats::losslessCandidates(from);
    QVERIFY(std::find(candidates.begin(), candidates.end(), to) != candidates.end());
    const std::size_t samples = std::size_t(in.size()) / from.bytesPerSample();
    QByteArray actual(out.size(), '\x55');
    sampleformats::convert(reinterpret_cast<const std::byte *>(in.constData()), from,
                           reinterpret_cast<std::byte *>(actual.data()), to, samples);
    QCOMPARE(actual.toHex(' '), out.toHex(' '));
}

void SampleFormatsTest::roundsTrueFloatsOnce_data()
{
    QTest::addColumn<StreamFormat>("from");
    QTest::addColumn<StreamFormat>("to");
    QTest::newRow("float32 to s16le") << F32LE << S16LE;
    QTest::newRow("float32 be to s32be") << F32BE << S32BE;
    QTest::newRow("float64 be to s24le") << F64BE << S24LE;
    QTest::newRow("float64 to s16be") << F64LE << S16BE;
}

void SampleFormatsTest::roundsTrueFloatsOnce()
{
    QFETCH(StreamFormat, from);
    QFETCH(StreamFormat, to);
    const auto rounded = sampleformats::roundedCandidates(from);
    QVERIFY(std::find(rounded.begin(), rounded.end(), to) != rounded.end());
    QCOMPARE(sampleformats::pathKind(from, to), sampleformats::PathKind::Rounded);

    // Full scale, beyond it, ties either side of every step, and noise.
    const double lsb = std::ldexp(1.0, 1 - int(to.bitsPerSample));
    std::vector<double> values{0.0, -0.0, 1.0, -1.0, 1.5, -2.0, 1.0 - lsb / 2, -1.0 + lsb / 2,
                               lsb / 2, -lsb / 2, 1.5 * lsb, -2.5 * lsb, 0.1, -0.3333,
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN()};
    QRandomGenerator noise(7);
    for (int i = 0; i < 200; ++i)
        values.push_back(noise.generateDouble() * 2.2 - 1.1);
    const QByteArray in = encoded(values, from);
    QByteArray actual(int(values.size() * to.bytesPerSample()), '\x55');
    sampleformats::convert(reinterpret_cast<const std::byte *>(in.constData()), from,
                           reinterpret_cast<std::byte *>(actual.data()), to, values.size());
    // The device gets what a float of the track's width holds.
    std::vector<double> stored = values;
    if (from.bitsPerSample == 32)
        for (double &v : stored)
            v = double(float(v));
    QByteArray expected = testaudio::roundedLittleEndian(stored, int(to.bitsPerSample));
    if (to.bigEndian)
        expected = reversedEach(expected, int(to.bytesPerSample()));
    QCOMPARE(actual.toHex(' '), expected.toHex(' '));
}

void SampleFormatsTest::kernelRecordIsRead_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("open") << QByteArray("access: RW_INTERLEAVED\nformat: S24_3LE\nsubformat: STD\n"
                                        "channels: 2\nrate: 96000 (96000/1)\nperiod_size: 4800\n")
                          << "S24_3LE 96000 2";
    QTest::newRow("closed") << QByteArray("closed\n") << "";
    QTest::newRow("cut short") << QByteArray("access: RW_INTERLEAVED\nformat: S16_LE\n") << "";
}

void SampleFormatsTest::kernelRecordIsRead()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);
    const std::optional<AcceptedSettings> read = parseKernelHwParams(text);
    QCOMPARE(read.has_value(), !expected.isEmpty());
    if (read) {
        QCOMPARE(QStringLiteral("%1 %2 %3").arg(read->format).arg(read->rate).arg(read->channels), expected);
        QVERIFY(read->fromKernel);
    }
}

QTEST_GUILESS_MAIN(SampleFormatsTest)
#include "tst_engine_sampleformats.moc"
