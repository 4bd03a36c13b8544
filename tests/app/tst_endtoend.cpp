// The player from the outside: a folder of tracks played through real ALSA,
// once through the queue in this process and once by the real program
// started from a shell with the folder on its command line.
#include "AlsaAudioPlatform.h"
#include "AlsaTestRig.h"
#include "BitPerfectAudioPlayer.h"
#include "Clock.h"
#include "FileIntake.h"
#include "PlayQueue.h"
#include "TestAudio.h"
#include "Transport.h"
#include "WaveformLoader.h"

#include <QProcess>
#include <QTest>
#include <csignal>

class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void aFolderPlaysTrackAfterTrackThroughAlsa();
    void theProgramPlaysAFolderGivenOnItsCommandLine();

private:
    QList<QUrl> writeAlbum();
    void verifyCapturedInOrder(const QList<QUrl> &tracks);

    std::unique_ptr<QTemporaryDir> m_dir = testaudio::makeTempDir();
    QString m_album;
};

void EndToEndTest::initTestCase()
{
    QString error;
    QVERIFY2(alsarig::install(m_dir->path(), &error, alsarig::Devices::CaptureOnly), qPrintable(error));
    m_album = m_dir->filePath("album");
}

void EndToEndTest::init()
{
    QDir(m_dir->filePath("capture")).removeRecursively();
    QDir().mkpath(m_dir->filePath("capture"));
    QDir(m_album).removeRecursively();
}

// Three tracks of one format, each with its own noise, named so that the
// file-name order is not the order they were written in.
QList<QUrl> EndToEndTest::writeAlbum()
{
    QDir().mkpath(m_album);
    QList<QUrl> tracks;
    const QStringList names{"01 intro.wav", "02 Theme.wav", "10 coda.wav"};
    for (int i = 2; i >= 0; --i) {
        testaudio::Recipe recipe;
        recipe.frames = 11025 + 1000 * i;
        recipe.signal = testaudio::Signal::Noise;
        recipe.seed = quint32(7 + i);
        const QString path = m_album + "/" + names.at(i);
        testaudio::write(path, recipe);
        tracks.prepend(QUrl::fromLocalFile(path));
    }
    QFile(m_album + "/cover.txt").open(QIODevice::WriteOnly);
    return tracks;
}

// Tracks of one format may reach the device as one stream or as several,
// as the next track was in memory in time or not: joined, the captures hold
// every track whole and in order, with only the silence that pads a stream's
// last period between them.
void EndToEndTest::verifyCapturedInOrder(const QList<QUrl> &tracks)
{
    const QByteArray captured = alsarig::captures(m_dir->path()).join();
    qsizetype at = 0;
    for (int i = 0; i < tracks.size(); ++i) {
        const QByteArray data = testaudio::rawData(tracks.at(i).toLocalFile());
        QVERIFY(!data.isEmpty());
        const qsizetype found = captured.indexOf(data, at);
        QVERIFY2(found >= 0, qPrintable(QString("track %1").arg(i)));
        QVERIFY(captured.mid(at, found - at).count('\0') == found - at);
        at = found + data.size();
    }
    QVERIFY(captured.mid(at).count('\0') == captured.size() - at);
}

void EndToEndTest::aFolderPlaysTrackAfterTrackThroughAlsa()
{
    const QList<QUrl> tracks = writeAlbum();
    AlsaAudioPlatform platform;
    const QList<PlaybackDevice> devices = platform.devices();
    QCOMPARE(devices.size(), 1);
    BitPerfectAudioPlayer player(platform);
    player.setOutputDevice(devices.first().id);
    WaveformLoader waveforms;
    PlayQueue queue;
    SteadyClock clock;
    Transport transport(queue, player, waveforms, clock);
    FileIntake intake(queue, transport, waveforms);

    intake.openFolderURL(QUrl::fromLocalFile(m_album));
    QCOMPARE(queue.fileURLs(), tracks);
    QTRY_COMPARE_WITH_TIMEOUT(queue.currentIndex(), 2, 20000);
    // The last track loads in the background before it plays and ends.
    QTRY_VERIFY_WITH_TIMEOUT(!player.isLoading() && !player.isPlaying(), 20000);
    verifyCapturedInOrder(tracks);
}

void EndToEndTest::theProgramPlaysAFolderGivenOnItsCommandLine()
{
    const QList<QUrl> tracks = writeAlbum();
    QProcess player;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", m_dir->filePath("config"));
    player.setProcessEnvironment(env);
    player.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    player.start(QStringLiteral(QUORVEL_PLAYER_BINARY), {m_album});
    QVERIFY(player.waitForStarted());

    qsizetype album = 0;
    for (const QUrl &track : tracks)
        album += testaudio::rawData(track.toLocalFile()).size();
    QTRY_VERIFY_WITH_TIMEOUT(alsarig::captures(m_dir->path()).join().size() >= album, 30000);
    QCOMPARE(player.state(), QProcess::Running);

    ::kill(pid_t(player.processId()), SIGTERM);
    QVERIFY(player.waitForFinished(20000));
    QCOMPARE(player.exitStatus(), QProcess::NormalExit);
    QCOMPARE(player.exitCode(), 0);
    verifyCapturedInOrder(tracks);
}

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
