// The player from the outside: the real program, started with a folder on its
// command line, plays it through real ALSA and quits cleanly, offscreen and
// as a native client of a headless Wayland compositor with no X server.
#include "AlsaTestRig.h"
#include "TestAudio.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <sys/prctl.h>

class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void theProgramPlaysAFolderGivenOnItsCommandLine_data();
    void theProgramPlaysAFolderGivenOnItsCommandLine();
};

namespace {
// A headless weston on a socket of its own, in a runtime folder of its own.
// False when it does not come up.
bool startWeston(QProcess &weston, const QString &runtimeDir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtimeDir);
    weston.setProcessEnvironment(env);
    weston.setStandardErrorFile(QProcess::nullDevice()); // its banner, every run
    weston.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    weston.start("weston", {"--backend=headless-backend.so", "--socket=quorvel-test", "--no-config"});
    return weston.waitForStarted()
           && QTest::qWaitFor([&] { return QFileInfo::exists(runtimeDir + "/quorvel-test"); }, 20000);
}
} // namespace

void EndToEndTest::theProgramPlaysAFolderGivenOnItsCommandLine_data()
{
    QTest::addColumn<bool>("wayland");
    QTest::newRow("offscreen") << false;
    // The platform is the player's own choice there (no QT_QPA_PLATFORM).
    QTest::newRow("wayland, headless weston") << true;
}

void EndToEndTest::theProgramPlaysAFolderGivenOnItsCommandLine()
{
    QFETCH(bool, wayland);
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

    QProcess weston;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    if (wayland) {
        const QString runtimeDir = dir->filePath("runtime");
        QVERIFY(QDir().mkdir(runtimeDir)); // weston wants it private, as a session's is
        QFile::setPermissions(runtimeDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY2(startWeston(weston, runtimeDir), "weston does not start (scripts/install-deps --test)");
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "QT_IM_MODULE"})
            env.remove(name);
        env.insert("XDG_RUNTIME_DIR", runtimeDir);
        env.insert("WAYLAND_DISPLAY", "quorvel-test");
        // The Wayland client library and the GL driver keep allocations past
        // exit, some in modules unloaded by then that the leak checker cannot
        // name; the offscreen row checks the player's own for leaks.
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
    }
    QProcess player;
    player.setProcessEnvironment(env);
    player.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // It dies with the test, also when the test crashes, so that no player
    // outlives it holding its output open.
    player.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    player.start(QStringLiteral(QUORVEL_PLAYER_BINARY), {album});
    QVERIFY(player.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(alsarig::captures(dir->path()).join().size() >= bytes, 30000);
    QCOMPARE(player.state(), QProcess::Running);
    ::kill(pid_t(player.processId()), SIGTERM);
    QVERIFY(player.waitForFinished(20000));
    QCOMPARE(player.exitStatus(), QProcess::NormalExit);
    QCOMPARE(player.exitCode(), 0);
    weston.terminate();
    weston.waitForFinished();

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
