// The generator is the ground truth of every byte-exact test, so check that it
// writes what it is asked for in each container the player reads.
#include "TestAudio.h"

#include <QTest>

class TestAudioTest : public QObject
{
    Q_OBJECT

private slots:
    void writesEveryContainer_data();
    void writesEveryContainer();
    void perChannelValuesAreDistinct();
    void aiffStoresBigEndian();
};

void TestAudioTest::writesEveryContainer_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("extension");
    QTest::newRow("wav 16") << (SF_FORMAT_WAV | SF_FORMAT_PCM_16) << "wav";
    QTest::newRow("aiff 24") << (SF_FORMAT_AIFF | SF_FORMAT_PCM_24) << "aiff";
    QTest::newRow("flac 16") << (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) << "flac";
    QTest::newRow("mp3") << (SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III) << "mp3";
}

void TestAudioTest::writesEveryContainer()
{
    QFETCH(int, format);
    QFETCH(QString, extension);
    auto dir = testaudio::makeTempDir();
    const QString path = dir->filePath("t." + extension);
    testaudio::Recipe recipe;
    recipe.format = format;
    recipe.sampleRate = 48000;
    recipe.frames = 48000;
    QString error;
    QVERIFY2(testaudio::write(path, recipe, &error), qPrintable(error));

    SF_INFO info;
    const auto decoded = testaudio::decodedFloat(path, &info);
    QCOMPARE(info.samplerate, 48000);
    QCOMPARE(info.channels, 2);
    // MP3 adds encoder delay and padding; the lossless containers are exact.
    if (extension != "mp3")
        QCOMPARE(qint64(decoded.size()), qint64(48000 * 2));
    else
        QVERIFY(decoded.size() >= 40000 * 2);
}

void TestAudioTest::perChannelValuesAreDistinct()
{
    auto dir = testaudio::makeTempDir();
    const QString path = dir->filePath("six.wav");
    testaudio::Recipe recipe;
    recipe.channels = 6;
    recipe.signal = testaudio::Signal::PerChannel;
    recipe.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    QVERIFY(testaudio::write(path, recipe));
    const auto decoded = testaudio::decodedFloat(path);
    for (int c = 0; c < 6; ++c)
        QCOMPARE(decoded[std::size_t(6 * 100 + c)], float(c + 1) / 7.0f);
}

void TestAudioTest::aiffStoresBigEndian()
{
    auto dir = testaudio::makeTempDir();
    const QString path = dir->filePath("be.aiff");
    testaudio::Recipe recipe;
    recipe.format = SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
    recipe.channels = 1;
    recipe.signal = testaudio::Signal::FullScale;
    recipe.frames = 10;
    QVERIFY(testaudio::write(path, recipe));
    const QByteArray raw = testaudio::rawData(path);
    QCOMPARE(raw.size(), 20);
    QCOMPARE(quint8(raw[0]), quint8(0x7f));
    QCOMPARE(quint8(raw[1]), quint8(0xff));
}

QTEST_GUILESS_MAIN(TestAudioTest)
#include "tst_testaudio.moc"
