// The player from the outside: the real program, started with a folder on its
// command line, plays it through real ALSA, whatever bytes its names hold,
// and quits cleanly.
#include "AlsaTestRig.h"
#include "TestAudio.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <unistd.h>

class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void theProgramPlaysAFolderGivenOnItsCommandLine_data();
    void theProgramPlaysAFolderGivenOnItsCommandLine();
};

void EndToEndTest::theProgramPlaysAFolderGivenOnItsCommandLine_data()
{
    QTest::addColumn<bool>("oneByOne"); // its files, as a shell's glob passes their bytes, else the folder
    QTest::newRow("the folder") << false;
    QTest::newRow("its files, relative") << true;
}

void EndToEndTest::theProgramPlaysAFolderGivenOnItsCommandLine()
{
    QFETCH(bool, oneByOne);
    const auto dir = testaudio::makeTempDir();
    QString error;
    QVERIFY2(alsarig::install(dir->path(), &error, alsarig::Devices::CaptureOnly), qPrintable(error));
    // Tracks of one format, each with its own noise, named so that the
    // file-name order is not the order they were written in, beside a file
    // that is no track. Two names are not UTF-8, as an old disc copied them:
    // "café" in Latin-1 and "Привет" in CP1251; shown with U+FFFD, they sort
    // after the others.
    const QString album = dir->filePath("album");
    const QList<QByteArray> names{"01 intro.wav", "02 Theme.wav", "10 coda.wav", "caf\xe9.wav",
                                  "\xcf\xf0\xe8\xe2\xe5\xf2.wav"};
    QList<QByteArray> tracks;
    qsizetype bytes = 0;
    // QTemporaryDir removes only names a QString can hold.
    const auto removeNames = qScopeGuard([&] {
        for (const QByteArray &name : names)
            ::unlink((QFile::encodeName(album) + '/' + name).constData());
    });
    for (int i = int(names.size()) - 1; i >= 0; --i) {
        testaudio::Recipe recipe{.frames = 11025 + 1000 * i, .signal = testaudio::Signal::Noise, .seed = quint32(7 + i)};
        const QString written = testaudio::writeTrack(album + "/track.wav", recipe).toLocalFile();
        tracks.prepend(testaudio::rawData(written));
        const QByteArray named = QFile::encodeName(album) + '/' + names.at(i);
        QCOMPARE(::rename(QFile::encodeName(written).constData(), named.constData()), 0);
        bytes += tracks.first().size();
    }
    QFile(album + "/cover.txt").open(QIODevice::WriteOnly);

    QProcess player;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    player.setProcessEnvironment(env);
    player.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // It dies with the test, also when the test crashes, so that no player
    // outlives it holding its output open.
    player.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    if (oneByOne) // exec: the shell's process becomes the player's
        player.start("/bin/sh", {"-c", "cd \"$1\" && exec \"$0\" *", QStringLiteral(QUORVEL_PLAYER_BINARY), album});
    else
        player.start(QStringLiteral(QUORVEL_PLAYER_BINARY), {album});
    QVERIFY(player.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(alsarig::captures(dir->path()).join().size() >= bytes, 30000);
    QCOMPARE(player.state(), QProcess::Running);
    ::kill(pid_t(player.processId()), SIGTERM);
    QVERIFY(player.waitForFinished(20000));
    QCOMPARE(player.exitStatus(), QProcess::NormalExit);
    QCOMPARE(player.exitCode(), 0);

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

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
