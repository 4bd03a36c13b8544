// Whole-track loading: the raw path must hand over the data chunk's bytes and
// describe them exactly; the decode path libsndfile's float frames; and bad
// input of every kind must end in a clean refusal.
#include "TestAudio.h"
#include "TrackLoader.h"

#include <QFile>
#include <QTest>
#include <QtEndian>
#include <sys/stat.h>

namespace {

QByteArray le32(quint32 v) { QByteArray b(4, 0); qToLittleEndian(v, b.data()); return b; }
QByteArray le16(quint16 v) { QByteArray b(2, 0); qToLittleEndian(v, b.data()); return b; }

// A canonical PCM WAV header whose every field the test chooses.
QByteArray wavHeader(quint16 channels, quint32 rate, quint16 bits, quint32 dataBytes)
{
    const quint16 align = quint16(channels * bits / 8);
    return "RIFF" + le32(36 + dataBytes) + "WAVEfmt " + le32(16) + le16(1) + le16(channels)
           + le32(rate) + le32(rate * align) + le16(align) + le16(bits) + "data" + le32(dataBytes);
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray blockBytes(const LoadedTrack &track)
{
    return QByteArray(reinterpret_cast<const char *>(track.block.data()), qsizetype(track.block.size()));
}

} // namespace

class LoaderTest : public QObject
{
    Q_OBJECT

private slots:
    void rawPathKeepsStoredBytes_data();
    void rawPathKeepsStoredBytes();
    void decodePathGivesFloatFrames_data();
    void decodePathGivesFloatFrames();
    void truncatedFlacKeepsTheFramesBeforeTheGap();
    void partialTrailingFrameIsDropped();
    void badInputIsRefused_data();
    void badInputIsRefused();
    void filesCutShortAreRefused_data();
    void filesCutShortAreRefused();
    void tracksOverTheBlockLimitAreRefused_data();
    void tracksOverTheBlockLimitAreRefused();

private:
    std::unique_ptr<QTemporaryDir> m_dir = testaudio::makeTempDir();
};

void LoaderTest::rawPathKeepsStoredBytes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("bigEndian");
    const int S = int(SampleKind::SignedInt), U = int(SampleKind::UnsignedInt), F = int(SampleKind::Float);
    QTest::newRow("wav u8") << "a.wav" << (SF_FORMAT_WAV | SF_FORMAT_PCM_U8) << 1 << U << 8 << false;
    QTest::newRow("wav 16") << "a.WAV" << (SF_FORMAT_WAV | SF_FORMAT_PCM_16) << 2 << S << 16 << false;
    QTest::newRow("wav 24") << "a.wav" << (SF_FORMAT_WAV | SF_FORMAT_PCM_24) << 2 << S << 24 << false;
    QTest::newRow("wav 32") << "a.wav" << (SF_FORMAT_WAV | SF_FORMAT_PCM_32) << 2 << S << 32 << false;
    QTest::newRow("wav float") << "a.wav" << (SF_FORMAT_WAV | SF_FORMAT_FLOAT) << 2 << F << 32 << false;
    QTest::newRow("wav double") << "a.wav" << (SF_FORMAT_WAV | SF_FORMAT_DOUBLE) << 1 << F << 64 << false;
    QTest::newRow("wavex 24 6ch") << "a.wav" << (SF_FORMAT_WAVEX | SF_FORMAT_PCM_24) << 6 << S << 24 << false;
    QTest::newRow("aiff s8") << "a.aif" << (SF_FORMAT_AIFF | SF_FORMAT_PCM_S8) << 2 << S << 8 << false;
    QTest::newRow("aiff 16") << "a.aiff" << (SF_FORMAT_AIFF | SF_FORMAT_PCM_16) << 2 << S << 16 << true;
    QTest::newRow("aiff 24") << "a.AIFF" << (SF_FORMAT_AIFF | SF_FORMAT_PCM_24) << 1 << S << 24 << true;
    QTest::newRow("aiff 32") << "a.aiff" << (SF_FORMAT_AIFF | SF_FORMAT_PCM_32) << 2 << S << 32 << true;
    QTest::newRow("aiff-c float") << "a.aiff" << (SF_FORMAT_AIFF | SF_FORMAT_FLOAT) << 2 << F << 32 << true;
    QTest::newRow("aiff-c sowt") << "a.aiff" << (SF_FORMAT_AIFF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE)
                                 << 2 << S << 16 << false;
}

void LoaderTest::rawPathKeepsStoredBytes()
{
    QFETCH(QString, name);
    QFETCH(int, format);
    QFETCH(int, channels);
    QFETCH(int, kind);
    QFETCH(int, bits);
    QFETCH(bool, bigEndian);
    const QString path = m_dir->filePath(QTest::currentDataTag() + name);
    testaudio::Recipe recipe{format, 48000, channels, 1001, testaudio::Signal::Noise};
    QVERIFY(testaudio::write(path, recipe));

    const auto track = loadTrack(path);
    QVERIFY(track);
    QCOMPARE(track->totalFrames, 1001);
    QCOMPARE(track->format.sampleRate, 48000.0);
    QCOMPARE(track->format.channels, quint32(channels));
    QCOMPARE(int(track->format.kind), kind);
    QCOMPARE(int(track->format.bitsPerSample), bits);
    QCOMPARE(track->format.bigEndian, bigEndian);
    // An odd-sized AIFF chunk carries a pad byte, which is no frame.
    const QByteArray raw = testaudio::rawData(path);
    QCOMPARE(blockBytes(*track), raw.left(raw.size() - raw.size() % int(track->format.bytesPerFrame())));
}

void LoaderTest::decodePathGivesFloatFrames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("sourceBits");
    QTest::addColumn<int>("frames");
    QTest::newRow("flac 16") << "a.flac" << (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) << 16 << 4410;
    QTest::newRow("flac 24, upper case") << "a.FLAC" << (SF_FORMAT_FLAC | SF_FORMAT_PCM_24) << 24 << 4410;
    // Long enough to be decoded in parts on several threads.
    QTest::newRow("flac 24, long") << "a.flac" << (SF_FORMAT_FLAC | SF_FORMAT_PCM_24) << 24 << 1'100'003;
    QTest::newRow("mp3, mixed case") << "a.Mp3" << (SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III) << 0 << 4410;
}

void LoaderTest::decodePathGivesFloatFrames()
{
    QFETCH(QString, name);
    QFETCH(int, format);
    QFETCH(int, sourceBits);
    QFETCH(int, frames);
    const QString path = m_dir->filePath(QTest::currentDataTag() + name);
    QVERIFY(testaudio::write(path, {format, 44100, 2, frames, testaudio::Signal::Noise}));

    const auto track = loadTrack(path);
    QVERIFY(track);
    const std::vector<float> expected = testaudio::decodedFloat(path);
    QCOMPARE(track->totalFrames, qint64(expected.size() / 2));
    QCOMPARE(int(track->format.kind), int(SampleKind::Float));
    QCOMPARE(track->format.bytesPerFrame(), 8u);
    QCOMPARE(int(track->format.integerSourceBits), sourceBits);
    QVERIFY(std::memcmp(track->block.data(), expected.data(), expected.size() * 4) == 0);
}

void LoaderTest::truncatedFlacKeepsTheFramesBeforeTheGap()
{
    const QString path = m_dir->filePath("cut.flac");
    QVERIFY(testaudio::write(path, {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, 1'200'000, testaudio::Signal::Noise}));
    QFile file(path);
    QVERIFY(file.resize(file.size() * 3 / 4));

    const auto track = loadTrack(path);
    QVERIFY(track);
    QVERIFY(track->totalFrames > 100'000);
    QVERIFY(track->totalFrames < 1'200'000);
    const std::vector<float> sequential = testaudio::decodedFloat(path);
    QVERIFY(qint64(sequential.size()) >= track->totalFrames * 2);
    QVERIFY(std::memcmp(track->block.data(), sequential.data(), std::size_t(track->totalFrames) * 8) == 0);
}

void LoaderTest::partialTrailingFrameIsDropped()
{
    // 10 stereo 16-bit frames and 2 stray bytes.
    const QString path = m_dir->filePath("partial.wav");
    QVERIFY(writeBytes(path, wavHeader(2, 44100, 16, 42) + QByteArray(42, '\x11')));
    const auto track = loadTrack(path);
    QVERIFY(track);
    QCOMPARE(track->totalFrames, 10);
    QCOMPARE(blockBytes(*track), QByteArray(40, '\x11'));
}

void LoaderTest::badInputIsRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    const QByteArray header = wavHeader(2, 44100, 16, 4000);
    QTest::newRow("missing") << "missing.wav" << QByteArray();
    QTest::newRow("empty") << "empty.wav" << QByteArray("");
    QTest::newRow("garbage wav") << "garbage.wav" << QByteArray(5000, '\x5a');
    QTest::newRow("garbage flac") << "garbage.flac" << ("fLaC" + QByteArray(5000, '\x5a'));
    QTest::newRow("garbage mp3") << "garbage.mp3" << QByteArray(5000, '\0');
    QTest::newRow("header cut short") << "short.wav" << header.left(30);
    QTest::newRow("data chunk longer than the file") << "truncated.wav" << (header + QByteArray(1000, '\1'));
    QTest::newRow("no data at all") << "nodata.wav" << wavHeader(2, 44100, 16, 0);
    QTest::newRow("zero channels") << "zero-channels.wav" << (wavHeader(0, 44100, 16, 400) + QByteArray(400, '\1'));
    QTest::newRow("zero bits") << "zero-bits.wav" << (wavHeader(2, 44100, 0, 400) + QByteArray(400, '\1'));
    QTest::newRow("zero rate") << "zero-rate.wav" << (wavHeader(2, 0, 16, 400) + QByteArray(400, '\1'));
    QTest::newRow("absurd rate") << "absurd-rate.wav" << (wavHeader(2, 0xF0000000u, 16, 400) + QByteArray(400, '\1'));
    QTest::newRow("directory") << "dir.wav" << QByteArray("<dir>");
    QTest::newRow("fifo") << "fifo.wav" << QByteArray("<fifo>");
}

void LoaderTest::badInputIsRefused()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    const QString path = m_dir->filePath(name);
    if (content == "<dir>")
        QVERIFY(QDir(m_dir->path()).mkdir(name));
    else if (content == "<fifo>")
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (!content.isNull())
        QVERIFY(writeBytes(path, content));
    QVERIFY(!loadTrack(path));
}

void LoaderTest::filesCutShortAreRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("format");
    QTest::newRow("wav") << "cut.wav" << (SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    QTest::newRow("wavex") << "cut-x.wav" << (SF_FORMAT_WAVEX | SF_FORMAT_PCM_24);
    QTest::newRow("aiff") << "cut.aiff" << (SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    QTest::newRow("aiff-c float") << "cut-c.aiff" << (SF_FORMAT_AIFF | SF_FORMAT_FLOAT);
}

// The header declares more data than the file holds: no part of it plays.
void LoaderTest::filesCutShortAreRefused()
{
    QFETCH(QString, name);
    QFETCH(int, format);
    const QString path = m_dir->filePath(name);
    QVERIFY(testaudio::write(path, {format, 44100, 2, 10000, testaudio::Signal::Noise}));
    QVERIFY(loadTrack(path));
    QFile file(path);
    QVERIFY(file.resize(file.size() - 1000));
    QVERIFY(!loadTrack(path));
}

void LoaderTest::tracksOverTheBlockLimitAreRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("rf64 raw, 5 GB data") << "big.wav";
    QTest::newRow("flac announcing 2^36 frames") << "big.flac";
}

// Both files are sparse: they claim more than 4 GiB while taking no space.
void LoaderTest::tracksOverTheBlockLimitAreRefused()
{
    QFETCH(QString, name);
    const QString path = m_dir->filePath(name);
    const bool flac = name.endsWith("flac");
    const int format = flac ? (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) : (SF_FORMAT_RF64 | SF_FORMAT_PCM_16);
    QVERIFY(testaudio::write(path, {format, 44100, 2, 100, testaudio::Signal::Tone}));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    if (flac) {
        // STREAMINFO's 36-bit total sample count ends at byte 8 + 18.
        bytes[21] = char(bytes[21] | 0x0f);
        for (int i = 22; i < 26; ++i)
            bytes[i] = '\xff';
    } else {
        const qsizetype ds64 = bytes.indexOf("ds64");
        QVERIFY(ds64 > 0);
        qToLittleEndian<quint64>(5'000'000'000ull, bytes.data() + ds64 + 16);
        QVERIFY(file.resize(5'000'000'100ll));
    }
    QVERIFY(file.seek(0) && file.write(bytes) == bytes.size());
    file.close();
    QVERIFY(!loadTrack(path));
}

QTEST_GUILESS_MAIN(LoaderTest)
#include "tst_engine_loader.moc"
