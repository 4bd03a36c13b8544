// Bit-perfect output through real ALSA: every file plays through a test PCM
// whose capture file ALSA names after the parameters it was opened with, and
// what the device received must equal the file's data chunk (raw path),
// libsndfile's float frames (decode path), or, on the restricted test DACs,
// the same integer values widened or byte-swapped, and true floats rounded
// once. With no session bus, a card plays without a reservation.
#include "AlsaAudioPlatform.h"
#include "AlsaTestRig.h"
#include "BitPerfectAudioPlayer.h"
#include "TestAudio.h"
#include "TestFiles.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <QtEndian>
#include <cstring>

namespace {

// What a device must receive when the track's values pass unchanged: the
// data chunk for the capture PCM, which takes every layout as it is stored
// (decoded tracks as libsndfile's floats); for the DACs, libsndfile's
// left-aligned integers cut to the device's width, little-endian.
QByteArray unchangedValues(const QString &path, const QString &pcm, int bits, int channels)
{
    QByteArray out;
    if (pcm != "quorvel_capture") {
        for (qint32 v : testaudio::decoded<qint32>(path)) {
            char bytes[4];
            qToLittleEndian<qint32>(v, bytes);
            out.append(bytes + 4 - bits / 8, bits / 8);
        }
    } else if (path.endsWith(".flac") || path.endsWith(".mp3")) {
        const std::vector<float> frames = testaudio::decoded<float>(path);
        out = QByteArray(reinterpret_cast<const char *>(frames.data()), qsizetype(frames.size() * 4));
    } else {
        out = testaudio::rawData(path);
        out.chop(out.size() % (bits / 8 * channels)); // an odd chunk's pad byte is no frame
    }
    return out;
}

void removeFiles(QDir dir)
{
    for (const QString &old : dir.entryList(QDir::Files))
        dir.remove(old);
}

} // namespace

class AlsaCaptureTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void listsOnlyPcmsThatKeepSamples();
    void deviceReceivesExactly_data();
    void deviceReceivesExactly();
    void reportsDeviceNodeChanges();
    void albumsPlayAsOneStream_data();
    void albumsPlayAsOneStream();
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
}

// One row per layout the capture PCM is opened in, and per conversion the
// restricted DACs need; the rate never changes a path, so rows vary it only
// to show the device is opened at the track's own.
void AlsaCaptureTest::deviceReceivesExactly_data()
{
    QTest::addColumn<QString>("pcm");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QString>("opened"); // what ALSA names in the capture file
    QTest::addColumn<bool>("rounded");
    const auto row = [](const char *tag, const char *pcm, int format, int rate, int channels, const char *alsa,
                        bool rounded = false) {
        QTest::newRow(tag) << pcm << format << rate << channels << alsa << rounded;
    };
    const char *capture = "quorvel_capture", *dac = "quorvel_dac", *intDac = "quorvel_dac_int";
    row("wav u8 44.1k mono", capture, SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 44100, 1, "8-U8");
    row("aiff s8 48k mono", capture, SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 48000, 1, "8-S8");
    row("aiff-c sowt 88.2k stereo", capture, SF_FORMAT_AIFF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE, 88200, 2,
        "16-S16_LE");
    row("aiff 16 44.1k stereo", capture, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 44100, 2, "16-S16_BE");
    row("wavex 24 96k 6ch", capture, SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 96000, 6, "24-S24_3LE");
    row("aiff 24 96k stereo", capture, SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 96000, 2, "24-S24_3BE");
    row("wav 32 176.4k stereo", capture, SF_FORMAT_WAV | SF_FORMAT_PCM_32, 176400, 2, "32-S32_LE");
    row("aiff 32 192k 6ch", capture, SF_FORMAT_AIFF | SF_FORMAT_PCM_32, 192000, 6, "32-S32_BE");
    row("flac 24 96k 6ch", capture, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 96000, 6, "32-FLOAT_LE");
    row("aiff-c float 48k stereo", capture, SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 48000, 2, "32-FLOAT_BE");
    row("wav double 352.8k mono", capture, SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 352800, 1, "64-FLOAT64_LE");
    // The DAC takes S16_LE and S32_LE: integers widened, swapped, and decoded
    // ones given back as the integers they were.
    row("dac: wav u8 widened", dac, SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 48000, 1, "16-S16_LE");
    row("dac: wav 24 widened", dac, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2, "32-S32_LE");
    row("dac: aiff 24 widened and swapped", dac, SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 96000, 2, "32-S32_LE");
    row("dac: flac 16", dac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, "16-S16_LE");
    row("dac: flac 24 widened", dac, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 192000, 2, "32-S32_LE");
    // A DAC of integers only (S16_LE, S24_3LE, S32_LE): integers in the
    // narrowest layout that holds them, true floats rounded once to the widest.
    row("int dac: aiff 24 swapped", intDac, SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 44100, 2, "24-S24_3LE");
    row("int dac: flac 24", intDac, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 192000, 2, "24-S24_3LE");
    row("int dac: wav double rounded", intDac, SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 192000, 2, "32-S32_LE", true);
    row("int dac: aiff float rounded", intDac, SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 96000, 2, "32-S32_LE", true);
}

void AlsaCaptureTest::deviceReceivesExactly()
{
    QFETCH(QString, pcm);
    QFETCH(int, format);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(QString, opened);
    QFETCH(bool, rounded);
    const bool capture = pcm == "quorvel_capture";
    const QDir captures(m_dir->filePath(capture ? "capture" : "dac"));
    removeFiles(captures);
    const QString path = m_dir->filePath("track." + testaudio::extension(format));
    testaudio::writeTrack(path, {format, rate, channels, rate / 16 + 3, testaudio::Signal::Noise});

    AlsaAudioPlatform platform(nullptr, m_dir->filePath("snd"));
    BitPerfectAudioPlayer player(platform, BitPerfectAudioPlayer::LoadMode::Inline);
    player.setOutputDevice(deviceIdForPcm(pcm.toUtf8()));
    player.playBitPerfect(QUrl::fromLocalFile(path));
    QVERIFY(player.isPlaying());
    QTRY_VERIFY_WITH_TIMEOUT(!player.isPlaying(), 20000);

    // One open, at the track's rate and channels.
    const QString prefix = capture ? "cap" : pcm == "quorvel_dac" ? "dac" : "int";
    const QString name = QStringLiteral("%1-%2-%3-%4.raw").arg(prefix).arg(rate).arg(channels).arg(opened);
    QCOMPARE(captures.entryList(QDir::Files), QStringList{name});
    const QByteArray received = testfiles::readAll(captures.filePath(name));
    const int bits = opened.section('-', 0, 0).toInt();
    const QByteArray expected = rounded ? testaudio::roundedLittleEndian(testaudio::decoded<double>(path), bits)
                                        : unchangedValues(path, pcm, bits, channels);
    QVERIFY(!expected.isEmpty() && received.size() >= expected.size());
    QVERIFY2(std::memcmp(received.constData(), expected.constData(), std::size_t(expected.size())) == 0,
             "the device received other values");
    // Only the padding of the last period follows, as silence.
    const char silence = opened.endsWith("U8") ? '\x80' : '\0';
    QCOMPARE(received.mid(expected.size()), QByteArray(received.size() - expected.size(), silence));
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

// Through the real-time test DAC: tracks of one format reach the device back
// to back in one stream; a change of rate ends one stream and opens another,
// each exact.
void AlsaCaptureTest::albumsPlayAsOneStream_data()
{
    QTest::addColumn<QList<int>>("rates");
    QTest::addColumn<QStringList>("streams"); // capture file per stream, in order
    QTest::newRow("three tracks at 44.1k") << QList<int>{44100, 44100, 44100}
                                           << QStringList{"dac-44100-2-16-S16_LE.raw"};
    QTest::newRow("44.1k then 96k") << QList<int>{44100, 96000}
                                    << QStringList{"dac-44100-2-16-S16_LE.raw", "dac-96000-2-16-S16_LE.raw"};
}

void AlsaCaptureTest::albumsPlayAsOneStream()
{
    QFETCH(QList<int>, rates);
    QFETCH(QStringList, streams);
    const QDir captures(m_dir->filePath("dac"));
    removeFiles(captures);
    QList<QUrl> album;
    for (qsizetype i = 0; i < rates.size(); ++i) {
        const QString path = m_dir->filePath(QStringLiteral("album-%1.wav").arg(i));
        // Longer than the device buffer, so the next track is in memory before
        // the render thread reaches the end of this one.
        testaudio::Recipe recipe{SF_FORMAT_WAV | SF_FORMAT_PCM_16, rates[i], 2, rates[i] / 2 + 3 * int(i),
                                 testaudio::Signal::Noise};
        recipe.seed = quint32(i + 1);
        testaudio::writeTrack(path, recipe);
        album << QUrl::fromLocalFile(path);
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
            stream += testaudio::rawData(album[track++].toLocalFile());
        QVERIFY2(captured.startsWith(stream), qPrintable(name));
        // Only the padding of the last period follows, as silence.
        QCOMPARE(captured.mid(stream.size()), QByteArray(captured.size() - stream.size(), '\0'));
    }
}

void AlsaCaptureTest::aCardPlaysWithoutASessionBus()
{
    const QString path = m_dir->filePath("nobus.wav");
    testaudio::writeTrack(path, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 4800});
    AlsaAudioPlatform platform(nullptr, m_dir->filePath("snd"));
    BitPerfectAudioPlayer player(platform, BitPerfectAudioPlayer::LoadMode::Inline);
    player.setOutputDevice(deviceIdForPcm("quorvel_dac_card"));
    player.playBitPerfect(QUrl::fromLocalFile(path));
    QVERIFY(player.isPlaying());
    QVERIFY(!platform.holdsCardReservation(alsarig::kReservedCard));
}

QTEST_GUILESS_MAIN(AlsaCaptureTest)
#include "tst_engine_alsa_capture.moc"
