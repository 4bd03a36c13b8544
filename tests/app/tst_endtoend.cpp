// The player from the outside: the real program plays through real ALSA a
// folder given on its command line, and, on a real X server (Xvfb), what a
// person chooses after clicking "Open file" or "Open folder".
#include "AlsaTestRig.h"
#include "ContentView.h"
#include "SimulatedAudioPlatform.h"
#include "TestAudio.h"

#include <QProcess>
#include <QScopeGuard>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>
#include <csignal>
#include <functional>
#include <sys/prctl.h>

Q_IMPORT_QML_PLUGIN(QuorvelPlugin)

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime (its header is not packaged with GCC here).
extern "C" void __lsan_disable();
extern "C" void __lsan_enable();
static void pauseLeakChecks() { __lsan_disable(); }
static void resumeLeakChecks() { __lsan_enable(); }
#else
static void pauseLeakChecks() {}
static void resumeLeakChecks() {}
#endif

namespace {

// A child that dies with the test, also when the test crashes, so that no X
// server or player outlives it holding its output open.
void dieWithTest(QProcess &process)
{
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

// An X server of the test's own, on a display number it picks itself.
class XServer
{
public:
    XServer()
    {
        dieWithTest(m_process);
        m_process.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1280x1024x24",
                                                 "-nolisten", "tcp", "-noreset"});
        if (m_process.waitForStarted() && QTest::qWaitFor([&] { return m_process.canReadLine(); }, 10000))
            m_display = ":" + QString::fromLatin1(m_process.readLine()).trimmed();
    }
    ~XServer()
    {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    QString display() const { return m_display; } // empty when it did not start

private:
    QProcess m_process;
    QString m_display;
};

// Runs xdotool on `display`; its standard output, trimmed.
QString xdotool(const QString &display, const QStringList &arguments)
{
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    tool.setProcessEnvironment(env);
    tool.start(QStringLiteral("xdotool"), arguments);
    if (!tool.waitForFinished(20000) || tool.exitCode() != 0)
        return {};
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

// Walks the visual tree: delegates and a panel's items have no QObject parent.
QQuickItem *visibleItem(QQuickItem *from, const std::function<bool(QQuickItem *)> &match)
{
    for (QQuickItem *child : from->childItems()) {
        if (!child->isVisible())
            continue;
        if (child->width() > 0 && match(child))
            return child;
        if (QQuickItem *found = visibleItem(child, match))
            return found;
    }
    return nullptr;
}

QPoint centreOf(QQuickItem *item)
{
    return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
}

// The centre of the first visible item that `match` accepts, once the layout
// has settled (the same for a few polls in a row); null when none shows.
QPoint settledCentre(QQuickWindow *window, const std::function<bool(QQuickItem *)> &match)
{
    QPoint last;
    int sameFor = 0;
    const bool settled = QTest::qWaitFor([&] {
        QQuickItem *item = visibleItem(window->contentItem(), match);
        const QPoint centre = item ? centreOf(item) : QPoint();
        sameFor = item && centre == last ? sameFor + 1 : 0;
        last = centre;
        return sameFor >= 5;
    });
    return settled ? last : QPoint();
}

// Where a person clicks in a main window of `size`: the centre of the visible
// source button `button` and, once it opened its panel, of the panel's "Open"
// button. Found in the same QML laid out offscreen in this process, so that
// the test holds no coordinates of its own.
std::pair<QPoint, QPoint> clicksOnMainScreen(const QString &button, QSize size)
{
    // The panel's icons stay in Qt Quick's pixmap cache for the life of the
    // process, which the leak checker would take for a leak of this test.
    pauseLeakChecks();
    const auto resume = qScopeGuard([] { resumeLeakChecks(); });
    SimulatedAudioPlatform platform;
    ContentView content(platform);
    ContentView::provide(&content);
    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/"));
    engine.load(QUrl(QStringLiteral("qrc:/Quorvel/Main.qml")));
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    std::pair<QPoint, QPoint> clicks;
    if (window && QTest::qWaitForWindowExposed(window)) {
        window->resize(size);
        clicks.first = settledCentre(window, [&](QQuickItem *i) { return i->objectName() == button; });
    }
    if (!clicks.first.isNull()) {
        QTest::mouseClick(window, Qt::LeftButton, {}, clicks.first);
        clicks.second = settledCentre(window, [](QQuickItem *i) {
            return i->inherits("QQuickAbstractButton") && i->property("text").toString() == "Open";
        });
    }
    ContentView::provide(nullptr);
    return clicks;
}

} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void theProgramPlaysAFolderGivenOnItsCommandLine();
    void theOpenPanelsQueueWhatIsChosen_data();
    void theOpenPanelsQueueWhatIsChosen();

private:
    QList<QUrl> writeAlbum();
    void verifyCapturedInOrder(const QList<QUrl> &tracks);
    void verifyPlayedThenQuitCleanly(QProcess &player, const QList<QUrl> &tracks);

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
        tracks.prepend(testaudio::writeTrack(m_album + "/" + names.at(i), recipe));
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

// The running program has handed every byte of `tracks` to the device; then
// SIGTERM ends it cleanly, and the captures hold the tracks in order.
void EndToEndTest::verifyPlayedThenQuitCleanly(QProcess &player, const QList<QUrl> &tracks)
{
    qsizetype bytes = 0;
    for (const QUrl &track : tracks)
        bytes += testaudio::rawData(track.toLocalFile()).size();
    QTRY_VERIFY_WITH_TIMEOUT(alsarig::captures(m_dir->path()).join().size() >= bytes, 30000);
    QCOMPARE(player.state(), QProcess::Running);
    ::kill(pid_t(player.processId()), SIGTERM);
    QVERIFY(player.waitForFinished(20000));
    QCOMPARE(player.exitStatus(), QProcess::NormalExit);
    QCOMPARE(player.exitCode(), 0);
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

    verifyPlayedThenQuitCleanly(player, tracks);
}

void EndToEndTest::theOpenPanelsQueueWhatIsChosen_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("folder");
    QTest::newRow("open file") << "openFileButton" << false;
    QTest::newRow("open folder") << "openFolderButton" << true;
}

void EndToEndTest::theOpenPanelsQueueWhatIsChosen()
{
    QFETCH(QString, button);
    QFETCH(bool, folder);
    for (const char *tool : {"Xvfb", "xdotool"})
        QVERIFY2(!QStandardPaths::findExecutable(tool).isEmpty(), "scripts/install-deps --test installs it");
    const QList<QUrl> tracks = writeAlbum();
    XServer x;
    QVERIFY(!x.display().isEmpty());

    QProcess player;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    // The X client libraries loaded and unloaded under the window system keep
    // allocations past exit; the offscreen run above checks the program's own.
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
    env.insert("DISPLAY", x.display());
    env.insert("XDG_CONFIG_HOME", m_dir->filePath("config"));
    player.setProcessEnvironment(env);
    player.setProcessChannelMode(QProcess::ForwardedChannels);
    dieWithTest(player);
    player.start(QStringLiteral(QUORVEL_PLAYER_BINARY), {});
    QVERIFY(player.waitForStarted());
    const QString window = xdotool(x.display(), {"search", "--sync", "--onlyvisible", "--name", "^QuorvelPlayer$"});
    QVERIFY(!window.isEmpty());
    const QStringList geometry = xdotool(x.display(), {"getwindowgeometry", "--shell", window}).split('\n');
    const auto value = [&](const char *key) { return geometry.filter(QLatin1String(key) + '=').value(0).section('=', 1).toInt(); };
    const auto [source, open] = clicksOnMainScreen(button, QSize(value("WIDTH"), value("HEIGHT")));
    QVERIFY(!source.isNull() && !open.isNull());
    const auto click = [&](QPoint at) {
        xdotool(x.display(), {"mousemove", "--window", window, QString::number(at.x()),
                              QString::number(at.y()), "click", "1"});
    };

    // A person clicks the button and types where to go in the panel's path
    // field (Ctrl+L): a file is chosen at once; a folder is entered, then
    // chosen from its parent (where it is the current entry) with "Open".
    xdotool(x.display(), {"windowfocus", "--sync", window});
    click(source);
    QTest::qWait(1500); // the panel is built on its first opening
    QCOMPARE(player.state(), QProcess::Running);
    xdotool(x.display(), {"key", "--clearmodifiers", "ctrl+l"});
    xdotool(x.display(), {"type", "--delay", "10", folder ? m_album : tracks.at(1).toLocalFile()});
    xdotool(x.display(), {"key", "Return"});
    if (folder) {
        QTest::qWait(500);
        xdotool(x.display(), {"key", "--clearmodifiers", "alt+Up"});
        QTest::qWait(500);
        click(open);
    }

    const QList<QUrl> expected = folder ? tracks : QList<QUrl>{tracks.at(1)};
    verifyPlayedThenQuitCleanly(player, expected);
}

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
