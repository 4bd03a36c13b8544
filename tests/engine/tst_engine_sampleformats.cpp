// The one conversion that changes values: a true-float track on a device of
// integers only is rounded once, checked against a rounding of the test's own
// at the edges (ties, clipping, NaN, infinities) and on noise. Lossless
// widening and byte swaps are checked through ALSA in tst_engine_alsa.
#include "SampleFormats.h"
#include "TestAudio.h"

#include <QRandomGenerator>
#include <QTest>
#include <cmath>
#include <limits>

Q_DECLARE_METATYPE(StreamFormat)

namespace {

StreamFormat layout(SampleKind kind, quint32 bits, bool bigEndian)
{
    return {.sampleRate = 48000, .channels = 1, .kind = kind, .bitsPerSample = bits, .bigEndian = bigEndian};
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

const StreamFormat S16LE = layout(SampleKind::SignedInt, 16, false), S16BE = layout(SampleKind::SignedInt, 16, true);
const StreamFormat S24LE = layout(SampleKind::SignedInt, 24, false), S32BE = layout(SampleKind::SignedInt, 32, true);
const StreamFormat F32LE = layout(SampleKind::Float, 32, false), F32BE = layout(SampleKind::Float, 32, true);
const StreamFormat F64LE = layout(SampleKind::Float, 64, false), F64BE = layout(SampleKind::Float, 64, true);

} // namespace

class SampleFormatsTest : public QObject
{
    Q_OBJECT

private slots:
    void roundsTrueFloatsOnce_data();
    void roundsTrueFloatsOnce();
};

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

QTEST_GUILESS_MAIN(SampleFormatsTest)
#include "tst_engine_sampleformats.moc"
