// The player from the outside: the real program, started with a folder on its
// command line, plays it through real ALSA, whatever bytes its names hold,
// and quits cleanly, offscreen and as a native client of a headless Wayland
// compositor with no X server; started again on the same desktop, it hands
// the new folder to the running one.
#include "AlsaTestRig.h"
#include "PrivateBus.h"
#include "TestAudio.h"

#include <QDir>
#include <QFileInfo>
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
    void aSecondStartHandsItsFolderToTheRunningPlayer();
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

// The player's environment under a headless weston: the platform is its own
// choice there (no QT_QPA_PLATFORM).
void useWeston(QProcessEnvironment &env, const QString &runtimeDir)
{
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "QT_IM_MODULE"})
        env.remove(name);
    env.insert("XDG_RUNTIME_DIR", runtimeDir);
    env.insert("WAYLAND_DISPLAY", "quorvel-test");
    // The Wayland client library and the GL driver keep allocations past
    // exit, some in modules unloaded by then that the leak checker cannot
    // name; the offscreen rows check the player's own for leaks.
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
}
// The player, or a program that becomes it (a shell's exec).
void startPlayer(QProcess &player, const QStringList &arguments, const QProcessEnvironment &env,
                 const QString &program = QStringLiteral(QUORVEL_PLAYER_BINARY))
{
    player.setProcessEnvironment(env);
    player.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // It dies with the test, also when the test crashes, so that no player
    // outlives it holding its output open.
    player.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    player.start(program, arguments);
}

QProcessEnvironment offscreen()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
}

bool quitCleanly(QProcess &player)
{
    ::kill(pid_t(player.processId()), SIGTERM);
    return player.waitForFinished(20000) && player.exitStatus() == QProcess::NormalExit && player.exitCode() == 0;
}
} // namespace

void EndToEndTest::theProgramPlaysAFolderGivenOnItsCommandLine_data()
{
    QTest::addColumn<bool>("oneByOne"); // its files, as a shell's glob passes their bytes, else the folder
    QTest::addColumn<bool>("wayland");
    QTest::newRow("the folder") << false << false;
    QTest::newRow("its files, relative") << true << false;
    QTest::newRow("the folder, wayland, headless weston") << false << true;
}

void EndToEndTest::theProgramPlaysAFolderGivenOnItsCommandLine()
{
    QFETCH(bool, oneByOne);
    QFETCH(bool, wayland);
    const auto dir = testaudio::makeTempDir();
    alsarig::install(dir->path(), alsarig::Devices::CaptureOnly);
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

    QProcess weston;
    QProcessEnvironment env = offscreen();
    if (wayland) {
        const QString runtimeDir = dir->filePath("runtime");
        QVERIFY(QDir().mkdir(runtimeDir)); // weston wants it private, as a session's is
        QFile::setPermissions(runtimeDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY2(startWeston(weston, runtimeDir), "weston does not start (scripts/install-deps --test)");
        useWeston(env, runtimeDir);
    }
    QProcess player;
    if (oneByOne)
        startPlayer(player, {"-c", "cd \"$1\" && exec \"$0\" *", QStringLiteral(QUORVEL_PLAYER_BINARY), album}, env,
                    "/bin/sh");
    else
        startPlayer(player, {album}, env);
    QVERIFY(player.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(alsarig::captures(dir->path()).join().size() >= bytes, 30000);
    QCOMPARE(player.state(), QProcess::Running);
    QVERIFY(quitCleanly(player));
    weston.terminate();
    weston.waitForFinished();

    QVERIFY(alsarig::capturedWholeInOrder(dir->path(), tracks));
}

// As a file manager's "Open with" does: the second program exits at once, and
// the first one plays what it was given, named on the bus by its desktop file.
void EndToEndTest::aSecondStartHandsItsFolderToTheRunningPlayer()
{
    const auto dir = testaudio::makeTempDir();
    PrivateBus bus;
    bus.start(dir->path());
    alsarig::install(dir->path(), alsarig::Devices::CaptureOnly);
    QList<QByteArray> tracks;
    for (const char *album : {"first", "second"}) {
        testaudio::Recipe recipe{.signal = testaudio::Signal::Noise, .seed = quint32(tracks.size() + 40)};
        tracks << testaudio::rawData(testaudio::writeTrack(dir->filePath(album + QString("/a.wav")), recipe).toLocalFile());
    }

    QProcess first;
    startPlayer(first, {dir->filePath("first")}, offscreen());
    QTRY_VERIFY_WITH_TIMEOUT(alsarig::captures(dir->path()).join().contains(tracks[0]), 30000);
    QProcess desktopEntry;
    desktopEntry.start("busctl", {"--user", "get-property", "org.mpris.MediaPlayer2.quorvelplayer",
                                  "/org/mpris/MediaPlayer2", "org.mpris.MediaPlayer2", "DesktopEntry"});
    QVERIFY(desktopEntry.waitForFinished(20000));
    QCOMPARE(desktopEntry.readAllStandardOutput().trimmed(), "s \"" QUORVEL_DESKTOP_ENTRY "\"");

    QProcess second;
    startPlayer(second, {dir->filePath("second")}, offscreen());
    QVERIFY(second.waitForFinished(30000));
    QCOMPARE(second.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(alsarig::captures(dir->path()).join().contains(tracks[1]), 30000);
    QCOMPARE(first.state(), QProcess::Running);
    QVERIFY(quitCleanly(first));
}

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
