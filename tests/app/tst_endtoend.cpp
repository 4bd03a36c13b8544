// The player from the outside: the real program, started with a folder on its
// command line, plays it through real ALSA and quits cleanly; started again
// on the same desktop, it hands the new folder to the running one.
#include "AlsaTestRig.h"
#include "PrivateSessionBus.h"
#include "TestAudio.h"

#include <QProcess>
#include <QTest>
#include <csignal>
#include <sys/prctl.h>

class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void theProgramPlaysAFolderGivenOnItsCommandLine();
    void aSecondStartHandsItsFolderToTheRunningPlayer();
};

namespace {

void startPlayer(QProcess &player, const QStringList &arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    player.setProcessEnvironment(env);
    player.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // It dies with the test, also when the test crashes, so that no player
    // outlives it holding its output open.
    player.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    player.start(QStringLiteral(QUORVEL_PLAYER_BINARY), arguments);
}

bool quitCleanly(QProcess &player)
{
    ::kill(pid_t(player.processId()), SIGTERM);
    return player.waitForFinished(20000) && player.exitStatus() == QProcess::NormalExit && player.exitCode() == 0;
}

} // namespace

void EndToEndTest::theProgramPlaysAFolderGivenOnItsCommandLine()
{
    const auto dir = testaudio::makeTempDir();
    QString error;
    QVERIFY2(alsarig::install(dir->path(), &error, alsarig::Devices::CaptureOnly), qPrintable(error));
    // Three tracks of one format, each with its own noise, named so that the
    // file-name order is not the order they were written in, beside a file
    // that is no track.
    const QString album = dir->filePath("album");
    const QStringList names{"01 intro.wav", "02 Theme.wav", "10 coda.wav"};
    QList<QByteArray> tracks;
    qsizetype bytes = 0;
    for (int i = 2; i >= 0; --i) {
        testaudio::Recipe recipe{.frames = 11025 + 1000 * i, .signal = testaudio::Signal::Noise, .seed = quint32(7 + i)};
        tracks.prepend(testaudio::rawData(testaudio::writeTrack(album + "/" + names.at(i), recipe).toLocalFile()));
        bytes += tracks.first().size();
    }
    QFile(album + "/cover.txt").open(QIODevice::WriteOnly);

    QProcess player;
    startPlayer(player, {album});
    QVERIFY(player.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(alsarig::captures(dir->path()).join().size() >= bytes, 30000);
    QCOMPARE(player.state(), QProcess::Running);
    QVERIFY(quitCleanly(player));

    // Tracks of one format may reach the device as one stream or as several,
    // as the next track was in memory in time or not: joined, the captures
    // hold every track whole and in order, with only the silence that pads a
    // stream's last period between them.
    const QByteArray captured = alsarig::captures(dir->path()).join();
    qsizetype at = 0;
    for (const QByteArray &track : std::as_const(tracks)) {
        const qsizetype found = captured.indexOf(track, at);
        QVERIFY(!track.isEmpty() && found >= 0);
        QCOMPARE(captured.mid(at, found - at).count('\0'), found - at);
        at = found + track.size();
    }
    QCOMPARE(captured.mid(at).count('\0'), captured.size() - at);
}

// As a file manager's "Open with" does: the second program exits at once, and
// the first one plays what it was given, named on the bus by its desktop file.
void EndToEndTest::aSecondStartHandsItsFolderToTheRunningPlayer()
{
    PrivateSessionBus bus;
    QVERIFY2(bus.start(), "dbus-daemon is missing (scripts/install-deps --test)");
    const auto dir = testaudio::makeTempDir();
    QString error;
    QVERIFY2(alsarig::install(dir->path(), &error, alsarig::Devices::CaptureOnly), qPrintable(error));
    QList<QByteArray> tracks;
    for (const char *album : {"first", "second"}) {
        testaudio::Recipe recipe{.signal = testaudio::Signal::Noise, .seed = quint32(tracks.size() + 40)};
        tracks << testaudio::rawData(testaudio::writeTrack(dir->filePath(album + QString("/a.wav")), recipe).toLocalFile());
    }

    QProcess first;
    startPlayer(first, {dir->filePath("first")});
    QTRY_VERIFY_WITH_TIMEOUT(alsarig::captures(dir->path()).join().contains(tracks[0]), 30000);
    QProcess desktopEntry;
    desktopEntry.start("busctl", {"--user", "get-property", "org.mpris.MediaPlayer2.quorvelplayer",
                                  "/org/mpris/MediaPlayer2", "org.mpris.MediaPlayer2", "DesktopEntry"});
    QVERIFY(desktopEntry.waitForFinished(20000));
    QCOMPARE(desktopEntry.readAllStandardOutput().trimmed(), "s \"" QUORVEL_DESKTOP_ENTRY "\"");

    QProcess second;
    startPlayer(second, {dir->filePath("second")});
    QVERIFY(second.waitForFinished(30000));
    QCOMPARE(second.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(alsarig::captures(dir->path()).join().contains(tracks[1]), 30000);
    QCOMPARE(first.state(), QProcess::Running);
    QVERIFY(quitCleanly(first));
}

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
