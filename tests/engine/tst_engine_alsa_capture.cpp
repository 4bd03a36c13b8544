// Bit-perfect output through real ALSA: every file of the matrix plays
// through a file PCM over null, and the capture must equal the file's data
// chunk (raw path) or libsndfile's float frames (decode path) byte for byte.
// The capture's file name, built by ALSA from the opened parameters, proves
// the rate and format the device was opened at. With no session bus, a card
// plays without a reservation.
#include "AlsaAudioPlatform.h"
#include "AlsaTestRig.h"
#include "BitPerfectAudioPlayer.h"
#include "TestAudio.h"
#include "TestFiles.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <cstring>

class AlsaCaptureTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void listsOnlyPcmsThatKeepSamples();
    void capturesExactly_data();
    void capturesExactly();
    void reportsDeviceNodeChanges();
    void albumsPlayAsOneStream_data();
    void albumsPlayAsOneStream();
    void seekingInMemoryMovesOnlyTheFrame();
    void aCardPlaysWithoutASessionBus();

private:
    std::unique_ptr<QTemporaryDir> m_dir = testaudio::makeTempDir();
};

void AlsaCaptureTest::initTestCase()
{
    QString error;
    QVERIFY2(alsarig::install(m_dir->path(), &error), qPrintable(error));
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quorvel-no-session-bus");
}

void AlsaCaptureTest::listsOnlyPcmsThatKeepSamples()
{
    AlsaAudioPlatform platform(nullptr, m_dir->filePath("snd"));
    const QList<PlaybackDevice> devices = platform.devices();
    QStringList names;
    for (const PlaybackDevice &d : devices) {
        names << d.name;
        QVERIFY(d.id != 0);
        QVERIFY(d.hasOutput);
    }
    for (const char *expected : {"Quorvel capture", "Quorvel test DAC", "Quorvel hw alias"})
        QVERIFY2(names.contains(expected), qPrintable(names.join(", ")));
    QVERIFY(!names.contains("Quorvel converter"));
    QVERIFY(!names.contains("Discard all samples (playback) or generate zero samples (capture)"));
    QVERIFY(devices.contains(PlaybackDevice{deviceIdForPcm("quorvel_capture"), "Quorvel capture", true}));
    QCOMPARE(platform.devices(), devices); // stable across enumerations
    QCOMPARE(platform.defaultOutputDevice(), std::nullopt); // the test configuration names none
}

void AlsaCaptureTest::capturesExactly_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("opened"); // what ALSA names in the capture file

    const auto row = [](const char *tag, int format, int rate, int channels, const char *ext, const char *alsa) {
        QTest::newRow(tag) << format << rate << channels << ext << alsa;
    };
    row("wav u8 44.1k mono", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 44100, 1, "wav", "8-U8");
    row("wav 16 44.1k stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, "wav", "16-S16_LE");
    row("wav 24 88.2k stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 88200, 2, "wav", "24-S24_3LE");
    row("wav 32 176.4k stereo", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 176400, 2, "wav", "32-S32_LE");
    row("wav float 192k stereo", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 192000, 2, "wav", "32-FLOAT_LE");
    row("wav double 352.8k mono", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 352800, 1, "wav", "64-FLOAT64_LE");
    row("wavex 24 96k 6ch", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 96000, 6, "wav", "24-S24_3LE");
    row("aiff s8 48k mono", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 48000, 1, "aif", "8-S8");
    row("aiff 16 44.1k stereo", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 44100, 2, "aiff", "16-S16_BE");
    row("aiff 24 96k stereo", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 96000, 2, "aiff", "24-S24_3BE");
    row("aiff 32 192k 6ch", SF_FORMAT_AIFF | SF_FORMAT_PCM_32, 192000, 6, "aiff", "32-S32_BE");
    row("aiff-c float 48k stereo", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 48000, 2, "aiff", "32-FLOAT_BE");
    row("aiff-c sowt 88.2k stereo", SF_FORMAT_AIFF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE, 88200, 2, "aiff", "16-S16_LE");
    row("flac 16 44.1k stereo", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, "flac", "32-FLOAT_LE");
    row("flac 24 96k 6ch", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 96000, 6, "flac", "32-FLOAT_LE");
    row("mp3 44.1k stereo", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 2, "mp3", "32-FLOAT_LE");
}

namespace {

QByteArray expectedBytes(const QString &path, bool decoded, int frameBytes)
{
    if (decoded) {
        const std::vector<float> frames = testaudio::decodedFloat(path);
        return QByteArray(reinterpret_cast<const char *>(frames.data()), qsizetype(frames.size() * 4));
    }
    const QByteArray raw = testaudio::rawData(path);
    return raw.left(raw.size() - raw.size() % frameBytes); // an AIFF pad byte is no frame
}

void removeFiles(QDir dir)
{
    for (const QString &old : dir.entryList(QDir::Files))
        dir.remove(old);
}

} // namespace

void AlsaCaptureTest::capturesExactly()
{
    QFETCH(int, format);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(QString, extension);
    QFETCH(QString, opened);
    const QDir captures(m_dir->filePath("capture"));
    removeFiles(captures);
    const QString path = m_dir->filePath(QStringLiteral("track.") + extension);
    QVERIFY(testaudio::write(path, {format, rate, channels, rate / 10 + 7, testaudio::Signal::Noise}));

    AlsaAudioPlatform platform(nullptr, m_dir->filePath("snd"));
    BitPerfectAudioPlayer player(platform, BitPerfectAudioPlayer::LoadMode::Inline);
    player.setOutputDevice(deviceIdForPcm("quorvel_capture"));
    player.playBitPerfect(QUrl::fromLocalFile(path));
    QVERIFY(player.isPlaying());
    QTRY_VERIFY_WITH_TIMEOUT(!player.isPlaying(), 20000);

    // One open, named by ALSA after the parameters it was opened with.
    const QString expectedName = QStringLiteral("cap-%1-%2-%3.raw").arg(rate).arg(channels).arg(opened);
    QCOMPARE(captures.entryList(QDir::Files), QStringList{expectedName});
    const QByteArray captured = testfiles::readAll(captures.filePath(expectedName));
    const int sampleBytes = opened.section('-', 0, 0).toInt() / 8;
    const QByteArray expected = expectedBytes(path, extension == "flac" || extension == "mp3", sampleBytes * channels);
    QVERIFY(!expected.isEmpty());
    QVERIFY2(captured.size() >= expected.size(), qPrintable(QString::number(captured.size())));
    QVERIFY2(std::memcmp(captured.constData(), expected.constData(), std::size_t(expected.size())) == 0,
             "captured bytes differ from the track");
    const char silence = opened.endsWith("U8") ? '\x80' : '\0';
    QCOMPARE(captured.mid(expected.size()), QByteArray(captured.size() - expected.size(), silence));
}

void AlsaCaptureTest::reportsDeviceNodeChanges()
{
    const QString nodes = m_dir->filePath("snd");
    AlsaAudioPlatform platform(nullptr, nodes);
    QSignalSpy changed(&platform, &AudioPlatform::devicesChanged);
    QVERIFY(QDir().mkdir(nodes)); // the first card appears
    QTRY_VERIFY(changed.count() >= 1);
    changed.clear();
    QFile node(nodes + "/pcmC0D0p");
    QVERIFY(node.open(QIODevice::WriteOnly));
    node.close();
    QTRY_VERIFY(changed.count() >= 1);
    changed.clear();
    QVERIFY(node.remove());
    QTRY_VERIFY(changed.count() >= 1);
}

// Through the real-time test DAC (wrapped in a file PCM whose capture ALSA
// names after the opened parameters): tracks of one format reach the device
// back to back in one stream; a change of rate ends one stream and opens
// another, each exact.
void AlsaCaptureTest::albumsPlayAsOneStream_data()
{
    QTest::addColumn<QList<int>>("rates");
    QTest::addColumn<QList<int>>("formats");
    QTest::addColumn<QStringList>("streams"); // capture file per stream, in order
    const int wav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    const int flac16 = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    QTest::newRow("three wav tracks at 44.1k")
        << QList<int>{44100, 44100, 44100} << QList<int>{wav16, wav16, wav16}
        << QStringList{"dac-44100-2-16-S16_LE.raw"};
    QTest::newRow("two flac tracks at 48k")
        << QList<int>{48000, 48000} << QList<int>{flac16, flac16}
        << QStringList{"dac-48000-2-16-S16_LE.raw"};
    QTest::newRow("44.1k then 96k")
        << QList<int>{44100, 96000} << QList<int>{wav16, wav16}
        << QStringList{"dac-44100-2-16-S16_LE.raw", "dac-96000-2-16-S16_LE.raw"};
}

void AlsaCaptureTest::albumsPlayAsOneStream()
{
    QFETCH(QList<int>, rates);
    QFETCH(QList<int>, formats);
    QFETCH(QStringList, streams);
    const QDir captures(m_dir->filePath("dac"));
    removeFiles(captures);
    QList<QUrl> album;
    QList<QByteArray> expected;
    for (qsizetype i = 0; i < rates.size(); ++i) {
        const bool flac = (formats[i] & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC;
        const QString path = m_dir->filePath(QStringLiteral("album-%1.%2").arg(i).arg(flac ? "flac" : "wav"));
        // Longer than the device buffer, so the next track is in memory before
        // the render thread reaches the end of this one.
        testaudio::Recipe recipe{formats[i], rates[i], 2, rates[i] / 2 + 3 * int(i), testaudio::Signal::Noise};
        recipe.seed = quint32(i + 1);
        QVERIFY(testaudio::write(path, recipe));
        album << QUrl::fromLocalFile(path);
        if (flac) { // the DAC takes no float: the decoded integers go as S16_LE
            QByteArray integers;
            for (const float sample : testaudio::decodedFloat(path)) {
                const auto value = qint16(sample * 32768.0f);
                integers.append(reinterpret_cast<const char *>(&value), 2);
            }
            expected << integers;
        } else {
            expected << testaudio::rawData(path);
        }
    }

    AlsaAudioPlatform platform(nullptr, m_dir->filePath("snd"));
    BitPerfectAudioPlayer player(platform, BitPerfectAudioPlayer::LoadMode::Inline);
    qsizetype playing = 0;
    const auto preloadFollowing = [&] {
        player.preloadNext(playing + 1 < album.size() ? album[playing + 1] : QUrl());
    };
    QObject::connect(&player, &BitPerfectAudioPlayer::advancedToNext, [&] {
        QCOMPARE(player.currentURL(), album[++playing]);
        preloadFollowing();
    });
    QObject::connect(&player, &BitPerfectAudioPlayer::isPlayingChanged, [&] {
        // A track of another format follows the end of the stream, from memory.
        if (!player.isPlaying() && playing + 1 < album.size()) {
            QCOMPARE(player.preloadedURL(), album[playing + 1]);
            player.playBitPerfect(album[++playing]);
            preloadFollowing();
        }
    });
    player.setOutputDevice(deviceIdForPcm("quorvel_dac"));
    player.playBitPerfect(album[0]);
    preloadFollowing();
    QVERIFY(player.isPlaying());
    QTRY_VERIFY_WITH_TIMEOUT(!player.isPlaying() && playing == album.size() - 1, 20000);

    QCOMPARE(captures.entryList(QDir::Files, QDir::Name), streams);
    qsizetype track = 0;
    for (const QString &name : streams) {
        const QByteArray captured = testfiles::readAll(captures.filePath(name));
        QByteArray stream;
        const int rate = rates[track];
        while (track < rates.size() && rates[track] == rate)
            stream += expected[track++];
        QVERIFY2(captured.startsWith(stream), qPrintable(name));
        // Only the padding of the last period follows, as silence.
        QCOMPARE(captured.mid(stream.size()), QByteArray(captured.size() - stream.size(), '\0'));
        QVERIFY(captured.size() - stream.size() < rate / 10 * 4);
    }
}

// A click inside the playing track: the next period the device receives
// starts at the target frame, and the file is not read again.
void AlsaCaptureTest::seekingInMemoryMovesOnlyTheFrame()
{
    const QDir captures(m_dir->filePath("dac"));
    removeFiles(captures);
    const QString path = m_dir->filePath("seek.wav");
    QVERIFY(testaudio::write(path, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 48000, testaudio::Signal::Noise}));
    const QUrl url = QUrl::fromLocalFile(path);
    int loads = 0;
    const auto countingLoad = [&loads](const QString &file, std::stop_token stop) {
        ++loads;
        return loadTrack(file, stop);
    };
    AlsaAudioPlatform platform(nullptr, m_dir->filePath("snd"));
    BitPerfectAudioPlayer player(platform, BitPerfectAudioPlayer::LoadMode::Inline, countingLoad);
    QSignalSpy started(&player, &BitPerfectAudioPlayer::started);
    player.setOutputDevice(deviceIdForPcm("quorvel_dac"));
    player.playBitPerfect(url);
    QTRY_VERIFY(player.currentFrame() > 9600);
    player.playBitPerfect(url, 0.75);
    QCOMPARE(started.count(), 2);
    QCOMPARE(player.currentFrame(), 36000);
    QTRY_VERIFY_WITH_TIMEOUT(!player.isPlaying(), 20000);
    QCOMPARE(loads, 1);

    const QStringList files = captures.entryList(QDir::Files);
    QCOMPARE(files, QStringList{"dac-48000-2-16-S16_LE.raw"}); // one open
    const QByteArray captured = testfiles::readAll(captures.filePath(files[0]));
    const QByteArray data = testaudio::rawData(path);
    qsizetype heard = 0; // frames of the start heard before the click took effect
    while (heard + 4 <= captured.size() && captured.mid(heard, 4) == data.mid(heard, 4))
        heard += 4;
    QVERIFY(heard >= 9600 * 4);
    QCOMPARE(captured.mid(heard, 12000 * 4), data.mid(36000 * 4));
}

void AlsaCaptureTest::aCardPlaysWithoutASessionBus()
{
    const QString path = m_dir->filePath("nobus.wav");
    QVERIFY(testaudio::write(path, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 4800}));
    AlsaAudioPlatform platform(nullptr, m_dir->filePath("snd"));
    BitPerfectAudioPlayer player(platform, BitPerfectAudioPlayer::LoadMode::Inline);
    player.setOutputDevice(deviceIdForPcm("quorvel_dac_card"));
    player.playBitPerfect(QUrl::fromLocalFile(path));
    QVERIFY(player.isPlaying());
    QVERIFY(!platform.holdsCardReservation(alsarig::kReservedCard));
}

QTEST_GUILESS_MAIN(AlsaCaptureTest)
#include "tst_engine_alsa_capture.moc"
