// The whole main screen, offscreen, over the simulated audio platform; the
// desktop's open panels through a stand-in portal on a private session bus.
#include "AlsaAudioPlatform.h"
#include "AlsaTestRig.h"
#include "ContentView.h"
#include "PrivateBus.h"
#include "SimulatedAudioPlatform.h"
#include "TestAudio.h"
#include "WaveformLoader.h"
#include "WindowSize.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <functional>
#include <optional>
#include <QQuickItem>
#include <QScopeGuard>
#include <QQuickWindow>
#include <QQmlApplicationEngine>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>
#include <cstdio>
#include <unistd.h>

Q_IMPORT_QML_PLUGIN(QuorvelPlugin)

#if defined(__SANITIZE_ADDRESS__) // the sanitizer runtime's calls; GCC here ships no header
extern "C" void __lsan_disable();
extern "C" void __lsan_enable();
#endif

namespace {
struct Screen
{
    // Over the simulated platform, or over `other` (real ALSA).
    explicit Screen(AudioPlatform *other = nullptr) : content(other ? *other : platform)
    {
        platform.addDevice({1, "Speakers"});
        platform.addDevice({2, "USB DAC"});
        platform.addDevice({3, "HDMI"});
        platform.setDefaultOutputDevice(1);
        content.start();
        ContentView::provide(&content);
        engine.addImportPath(QStringLiteral("qrc:/"));
        engine.load(QUrl(QStringLiteral("qrc:/Quorvel/Main.qml")));
        window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
        exposed = window && QTest::qWaitForWindowExposed(window);
    }

    // Delegates and a panel's items have no QObject parent: walk the visual tree too.
    QQuickItem *item(const char *name) const
    {
        if (auto *found = window->findChild<QQuickItem *>(QLatin1String(name)))
            return found;
        return findVisual(window->contentItem(), [&](QQuickItem *i) { return i->objectName() == name; });
    }
    static QQuickItem *findVisual(QQuickItem *from, const std::function<bool(QQuickItem *)> &match)
    {
        for (QQuickItem *child : from->childItems()) {
            if (match(child))
                return child;
            if (QQuickItem *found = findVisual(child, match))
                return found;
        }
        return nullptr;
    }
    QString text(const char *name) const { return item(name)->property("text").toString(); }
    // What the listener sees, kept for a person to look at (build/<build>/test-output/).
    void shoot(const char *name) const
    {
        const QString dir = qEnvironmentVariable("QUORVEL_TEST_OUTPUT");
        if (!dir.isEmpty() && QDir().mkpath(dir))
            window->grabWindow().save(dir + "/mainscreen-" + name + ".png");
    }

    // `count` one-second tracks; only their URLs for a huge queue, which is about rows.
    QList<QUrl> tracks(int count)
    {
        QList<QUrl> urls;
        for (int i = 0; i < count; ++i) {
            const QString path = dir->filePath(QStringLiteral("track%1.wav").arg(i, 5, 10, QLatin1Char('0')));
            urls << (count > 200 ? QUrl::fromLocalFile(path)
                                 : testaudio::writeTrack(path, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 44100,
                                                                i % 2 ? testaudio::Signal::Noise : testaudio::Signal::Tone}));
        }
        return urls;
    }

    std::unique_ptr<QTemporaryDir> dir = testaudio::makeTempDir();
    SimulatedAudioPlatform platform;
    ContentView content;
    QQmlApplicationEngine engine;
    QQuickWindow *window = nullptr;
    bool exposed = false;
};

// Drags `data` into the window and drops it or leaves: true when the window
// took it as a drop target for as long as the drag lasted.
bool dragOver(Screen &screen, QMimeData &data, bool drop)
{
    QDragEnterEvent enter(QPoint(300, 300), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(screen.window, &enter);
    const bool targeted = screen.content.intake()->isDropTargeted();
    QDropEvent dropped(QPointF(300, 300), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(screen.window, drop ? static_cast<QEvent *>(&dropped) : &leave);
    return targeted && !screen.content.intake()->isDropTargeted();
}

// A press, a move and a release at whole points.
void drag(QQuickWindow *window, QQuickItem *item, QPoint press, QPoint release)
{
    QTest::mousePress(window, Qt::LeftButton, {}, item->mapToScene(press).toPoint());
    QTest::mouseMove(window, item->mapToScene(release).toPoint());
    QTest::mouseRelease(window, Qt::LeftButton, {}, item->mapToScene(release).toPoint());
}

QQuickItem *rowAt(QQuickItem *list, int index)
{
    QQuickItem *row = nullptr;
    QMetaObject::invokeMethod(list, "itemAtIndex", Q_RETURN_ARG(QQuickItem *, row), Q_ARG(int, index));
    return row;
}

// The portal's a(sa(us)): each filter's name and its (kind, pattern) pairs.
using PortalFilters = QList<QPair<QString, QList<QPair<uint, QString>>>>;
} // namespace

// The desktop portal's file chooser on the test's bus: it answers every OpenFile
// with `uris`, or a cancel when there are none, and keeps the last call's options.
class StandInPortal : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.FileChooser")
public:
    StandInPortal(const QString &address, const QStringList &uris)
        : m_bus(QDBusConnection::connectToBus(address, QStringLiteral("portal"))), m_uris(uris)
    {
        m_bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), this, QDBusConnection::ExportAllSlots);
        m_bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    }
    ~StandInPortal() override { QDBusConnection::disconnectFromBus(QStringLiteral("portal")); }

    int calls = 0;
    QVariantMap options;

public slots:
    QDBusObjectPath OpenFile(const QString &, const QString &, const QVariantMap &given)
    {
        ++calls;
        options = given;
        const QString sender = message().service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString path = "/org/freedesktop/portal/desktop/request/" + sender + "/" + given["handle_token"].toString();
        QDBusMessage response = QDBusMessage::createSignal(path, "org.freedesktop.portal.Request", "Response");
        response << uint(m_uris.isEmpty() ? 1 : 0) << QVariantMap{{"uris", m_uris}};
        // The answer follows the reply, as the portal's does once the listener chose.
        QMetaObject::invokeMethod(this, [this, response] { m_bus.send(response); }, Qt::QueuedConnection);
        return QDBusObjectPath(path);
    }

private:
    QDBusConnection m_bus;
    QStringList m_uris;
};

class MainScreenTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void theCardGivesWayToDroppedFiles();
    void aDropOfOldNamesPlaysThroughALSA();
    void devicesGoAndThePickerSelects();
    void aRowClickSeeksAndTheCurrentRowIsCentred();
    void aHugeQueueBuildsOnlyVisibleRows();
    void theOpenPanelsQueueWhatIsChosen_data();
    void theOpenPanelsQueueWhatIsChosen();

private:
    std::unique_ptr<QTemporaryDir> m_busDir = testaudio::makeTempDir();
    PrivateBus m_bus;
};

// A bus without a portal: the built-in panels, unless a test stands in for the desktop's.
void MainScreenTest::initTestCase()
{
    m_bus.start(m_busDir->path());
}

// Any complaint about our own QML or its icons fails the test that caused it.
void MainScreenTest::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral(":/Quorvel/")));
}

// Opening the window writes no size. Only files are taken as a drop, which
// queues them, the card giving way to the panels.
void MainScreenTest::theCardGivesWayToDroppedFiles()
{
    Screen screen;
    QVERIFY(screen.exposed);
    QVERIFY(screen.item("emptyState")->isVisible());
    QVERIFY(!screen.item("queuePanel")->isVisible());
    QVERIFY(!screen.item("dropHighlight")->isEnabled()); // never takes the drop or a click
    QCOMPARE(screen.text("selectedDeviceName"), "Speakers");
    QVERIFY(!QSettings().contains(windowsize::settingsKey));
    screen.shoot("empty");

    const QUrl web(QStringLiteral("https://example.org/a.flac"));
    const QList<QUrl> tracks = screen.tracks(2);
    QMimeData text, link, linkThenFile, files;
    text.setText(QStringLiteral("just words"));
    link.setUrls({web});
    linkThenFile.setUrls({web, tracks.first()});
    files.setUrls(tracks);
    QVERIFY(!dragOver(screen, text, false));
    QVERIFY(!dragOver(screen, link, false));
    QVERIFY(dragOver(screen, linkThenFile, false));
    QVERIFY(dragOver(screen, files, true));
    QTRY_VERIFY(screen.item("nowPlayingPanel")->isVisible());
    QCOMPARE(screen.content.queue()->count(), 2);
    QVERIFY(screen.item("queuePanel")->isVisible());
    QVERIFY(!screen.item("emptyState")->isVisible());
    QCOMPARE(screen.text("currentTrackTitle"), "track00000.wav");
    screen.shoot("queue");
    QCOMPARE(screen.item("closeWindowButton")->findChild<QObject *>("closeTip")->property("text"),
             "Quit QuorvelPlayer (Ctrl+Q)");
}

// Names that are not UTF-8 (CP1251 with markup and a line break; two Latin-1
// ones that look alike) dropped as %XX: through real ALSA each track plays byte
// for byte from its own file, in name order, each name shown as one plain line.
void MainScreenTest::aDropOfOldNamesPlaysThroughALSA()
{
    const auto dir = testaudio::makeTempDir();
    alsarig::install(dir->path(), alsarig::Devices::CaptureOnly);
    AlsaAudioPlatform alsa;
    Screen screen(&alsa);
    QVERIFY(screen.exposed);
    const QByteArray folder = QFile::encodeName(dir->path()) + "/album/";
    // In name order: '<' before 'c'; the names shown alike keep the drop's order.
    const QList<QByteArray> names{"<b>\xcf\xf0\xe8\xe2\xe5\xf2\n.wav", "caf\xe9.wav", "caf\xe8.wav"};
    QList<QByteArray> tracks;
    const auto removeNames = qScopeGuard([&] { // QTemporaryDir removes only names a QString can hold
        for (const QByteArray &name : names)
            ::unlink((folder + name).constData());
    });
    QByteArray uriList;
    for (const QByteArray &name : names) {
        const testaudio::Recipe recipe{.frames = 11025, .signal = testaudio::Signal::Noise, .seed = quint32(tracks.size() + 5)};
        const QString written = testaudio::writeTrack(QFile::decodeName(folder) + "w.wav", recipe).toLocalFile();
        tracks << testaudio::rawData(written);
        QCOMPARE(::rename(QFile::encodeName(written).constData(), (folder + name).constData()), 0);
        uriList += "file://" + (folder + name).toPercentEncoding("/") + "\r\n";
    }
    QMimeData dropped;
    dropped.setData(QStringLiteral("text/uri-list"), uriList);
    QVERIFY(dragOver(screen, dropped, true));
    QTRY_COMPARE(screen.content.queue()->count(), 3);
    QCOMPARE(screen.text("currentTrackTitle"), QString::fromUtf8("<b>\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD.wav"));
    QCOMPARE(screen.item("currentTrackTitle")->property("lineCount"), 1);
    QCOMPARE(screen.item("currentTrackTitle")->property("textFormat").toInt(), int(Qt::PlainText));
    const BitPerfectAudioPlayer *player = screen.content.player();
    QTRY_VERIFY_WITH_TIMEOUT(screen.content.queue()->currentIndex() == 2 && !player->isPlaying() && !player->isLoading(),
                             30000);
    QVERIFY(alsarig::capturedWholeInOrder(dir->path(), tracks));
}

// When the selected default goes away mid-track the track goes on, from about
// where it was, on the device selected in its place; the picker lists what is
// left and a click selects.
void MainScreenTest::devicesGoAndThePickerSelects()
{
    Screen screen;
    QVERIFY(screen.exposed);
    const QList<QUrl> tracks = screen.tracks(1);
    const QByteArray data = testaudio::rawData(tracks.first().toLocalFile());
    const qint64 frames = data.size() / 4;
    screen.content.intake()->loadPlaylist(tracks);
    screen.content.transport()->playTrack(0, 0.5);
    QTRY_VERIFY(screen.content.player()->isPlaying());
    QCOMPARE(screen.text("sampleRateBadge"), "44.1 kHz");
    screen.platform.removeDevice(1);
    QCOMPARE(screen.text("selectedDeviceName"), "HDMI");
    QTRY_VERIFY(screen.platform.events().contains("start 3"));
    const qint64 from = frames - screen.platform.renderToEnd();
    QVERIFY2(from >= frames / 2 && from < frames / 2 + 44100 / 5, qPrintable(QString::number(from)));
    QVERIFY(screen.platform.captured(3).startsWith(data.mid(from * 4)));
    QVERIFY(screen.platform.captured(2).isEmpty());

    QQuickItem *button = screen.item("devicePickerButton");
    const auto open = [&] {
        QTest::mouseClick(screen.window, Qt::LeftButton, {}, button->mapToScene({40, 30}).toPoint());
        QTRY_VERIFY(screen.content.devicePicker()->isPresented());
    };
    open();
    QQuickItem *list = nullptr;
    QTRY_VERIFY((list = screen.item("deviceList")));
    QTRY_COMPARE(list->property("count").toInt(), 2);
    screen.shoot("picker");
    QTest::keyClick(screen.window, Qt::Key_Escape);
    QTRY_VERIFY(!screen.content.devicePicker()->isPresented());

    open();
    QQuickItem *row = nullptr;
    QTRY_VERIFY((row = rowAt(list, 1))); // "HDMI" sorts before "USB DAC"
    QTest::mouseClick(screen.window, Qt::LeftButton, {}, row->mapToScene({50, 18}).toPoint());
    QTRY_VERIFY(!screen.content.devicePicker()->isPresented());
    QCOMPARE(screen.text("selectedDeviceName"), "USB DAC");
    for (const quint32 id : {2u, 3u})
        screen.platform.removeDevice(id);
    QCOMPARE(screen.text("selectedDeviceName"), "Select output device");
}

void MainScreenTest::aRowClickSeeksAndTheCurrentRowIsCentred()
{
    Screen screen;
    QVERIFY(screen.exposed);
    screen.content.intake()->loadPlaylist(screen.tracks(120));
    QQuickItem *list = screen.item("trackListView");
    QTRY_VERIFY(rowAt(list, 3));
    QQuickItem *surface = rowAt(list, 3)->findChild<QQuickItem *>("rowSeekSurface");
    const int middle = int(surface->width() / 2);
    drag(screen.window, surface, {10, 14}, {14, 14}); // a drag, not a click
    QCOMPARE(screen.content.queue()->currentIndex(), 0);
    drag(screen.window, surface, {middle, 14}, {middle, 17});
    QCOMPARE(screen.content.queue()->currentIndex(), 3);
    QVERIFY(qAbs(screen.content.transport()->playbackProgress() - 0.5) < 0.02); // the clock runs

    screen.content.transport()->playTrack(104, 0.0);
    const double centred = screen.content.tracks()->centredOffset(104, 120, list->height());
    QVERIFY(centred > 0);
    QTRY_COMPARE(list->property("contentY").toDouble(), centred);
    // The current row's fill lies under its row, wherever the list scrolled.
    QQuickItem *fill = screen.item("currentRowFill");
    QCOMPARE(fill->mapToScene({0, 0}).y(), rowAt(list, 104)->mapToScene({0, 0}).y());
}

void MainScreenTest::aHugeQueueBuildsOnlyVisibleRows()
{
    Screen screen;
    QVERIFY(screen.exposed);
    WaveformLoader *waveforms = screen.content.waveforms();
    waveforms->holdWorkers(true); // the order in which waveforms wait stays to be read
    const QList<QUrl> urls = screen.tracks(10000);
    screen.content.intake()->loadPlaylist(urls);
    QQuickItem *list = screen.item("trackListView");
    QTRY_VERIFY(list->height() > 0);
    const auto built = [&] { return list->property("contentItem").value<QQuickItem *>()->childItems().size(); };
    QVERIFY2(built() < 40, qPrintable(QString::number(built())));
    for (int step = 0; step < 20; ++step) {
        QMetaObject::invokeMethod(list, "positionViewAtIndex", Q_ARG(int, step * 500), Q_ARG(int, 0));
        QCoreApplication::processEvents();
    }
    QMetaObject::invokeMethod(list, "positionViewAtEnd");
    QTRY_VERIFY(rowAt(list, 9999));
    QVERIFY2(built() < 40, qPrintable(QString::number(built())));

    // A click on a far row: its waveform comes first, then the rows in view,
    // then the head of the queue; no row scrolled past waits any more.
    QQuickItem *surface = rowAt(list, 9997)->findChild<QQuickItem *>("rowSeekSurface");
    drag(screen.window, surface, {10, 14}, {10, 14});
    QCOMPARE(screen.content.queue()->currentIndex(), 9997);
    const QList<QUrl> queued = waveforms->queuedURLs();
    QCOMPARE(queued.value(0), urls.at(9997));
    qsizetype lastInView = 0;
    for (qsizetype at = 1; at < queued.size(); ++at) {
        const qsizetype row = urls.indexOf(queued.at(at));
        QVERIFY2(row < 5 || (row > 9950 && rowAt(list, int(row))), qPrintable(QString::number(row)));
        if (row > 9950)
            lastInView = at;
    }
    QCOMPARE(queued.mid(lastInView + 1), urls.mid(0, 5));
    waveforms->holdWorkers(false);
}

void MainScreenTest::theOpenPanelsQueueWhatIsChosen_data()
{
    QTest::addColumn<bool>("portal"); // the desktop's, standing in; else the built-in panels
    QTest::addColumn<bool>("folder");
    QTest::addColumn<QStringList>("chosen"); // none: the listener cancelled
    QTest::addColumn<QStringList>("queued");
    const QStringList album{"1.wav", "2.wav"};
    QTest::newRow("built-in, a file") << false << false << QStringList{"music/album/2.wav"} << QStringList{"2.wav"};
    QTest::newRow("built-in, a folder") << false << true << QStringList{"music/album"} << album;
    QTest::newRow("portal, files, the extension in any case")
        << true << false << QStringList{"b.WAV", "a.flac", "c.txt"} << QStringList{"a.flac", "b.WAV"};
    QTest::newRow("portal, a folder") << true << true << QStringList{"music/album"} << album;
    QTest::newRow("portal, cancelled") << true << false << QStringList{} << QStringList{};
}

// In a built-in panel a path is typed after Ctrl+L: a file is chosen at once; a
// folder's parent, where it is the only entry, selects it. Where a portal runs
// it is asked instead; a cancel changes nothing and closes the request.
void MainScreenTest::theOpenPanelsQueueWhatIsChosen()
{
    QFETCH(bool, portal);
    QFETCH(bool, folder);
    QFETCH(QStringList, chosen);
    QFETCH(QStringList, queued);
#if defined(__SANITIZE_ADDRESS__) // the panels' icons stay in the pixmap cache for the process's life
    __lsan_disable();
    const auto resume = qScopeGuard([] { __lsan_enable(); });
#endif
    const auto dir = testaudio::makeTempDir();
    for (const char *name : {"music/album/1.wav", "music/album/2.wav", "b.WAV"})
        testaudio::writeTrack(dir->filePath(name));
    testaudio::writeTrack(dir->filePath("a.flac"), {SF_FORMAT_FLAC | SF_FORMAT_PCM_16});
    QFile(dir->filePath("c.txt")).open(QIODevice::WriteOnly);
    QStringList uris;
    for (const QString &name : chosen)
        uris << QUrl::fromLocalFile(dir->filePath(name)).toString();
    std::optional<StandInPortal> standIn;
    if (portal)
        standIn.emplace(m_bus.address(), uris);
    Screen screen;
    QVERIFY(screen.exposed);
    const auto panelShown = [&] {
        return screen.findVisual(screen.window->contentItem(), [](QQuickItem *i) {
            return i->isVisible() && i->inherits("QQuickAbstractButton") && i->property("text") == "Open";
        });
    };
    QQuickItem *button = screen.item(folder ? "openFolderButton" : "openFileButton");
    QTest::mouseClick(screen.window, Qt::LeftButton, {}, button->mapToScene({button->width() / 2, 10}).toPoint());
    if (portal) {
        QTRY_COMPARE(standIn->calls, 1);
        const PortalFilters audio{{"Audio files (WAV, AIFF, AIF, FLAC, MP3)",
                                   {{0, "*.[wW][aA][vV]"}, {0, "*.[aA][iI][fF]"}, {0, "*.[aA][iI][fF][fF]"},
                                    {0, "*.[mM][pP]3"}, {0, "*.[fF][lL][aA][cC]"}}}};
        QVERIFY(standIn->options.value(folder ? "directory" : "multiple").toBool());
        if (!folder)
            QCOMPARE(qdbus_cast<PortalFilters>(standIn->options.value("filters")), audio);
    } else {
        QTRY_VERIFY(panelShown());
        QTest::keyClick(screen.window, Qt::Key_L, Qt::ControlModifier);
        for (const char c : dir->filePath(folder ? "music" : chosen.at(0)).toLatin1())
            QTest::keyClick(screen.window, c);
        QTest::keyClick(screen.window, Qt::Key_Return);
    }
    if (folder && !portal) {
        QObject *panel = nullptr;
        for (QObject *child : screen.window->findChildren<QObject *>())
            panel = child->inherits("QQuickFolderDialog") ? child : panel;
        QTRY_COMPARE(panel->property("selectedFolder").toUrl(), QUrl::fromLocalFile(dir->filePath(chosen.at(0))));
        QVERIFY(QMetaObject::invokeMethod(panel, "accept"));
    }
    QTRY_COMPARE(screen.content.queue()->count(), queued.size());
    for (int i = 0; i < queued.size(); ++i)
        QCOMPARE(screen.content.queue()->fileURLs().at(i).fileName(), queued.at(i));
    QCOMPARE(screen.content.player()->currentURL(), screen.content.queue()->fileURLs().value(0));
    if (portal) {
        // Asked until the answered request has closed: an ask while one is open is ignored.
        QTRY_VERIFY((folder ? screen.content.fileChooser()->openFolder() : screen.content.fileChooser()->openFiles(),
                     standIn->calls >= 2));
        QVERIFY(!panelShown());
    }
}

QTEST_MAIN(MainScreenTest)
#include "tst_mainscreen.moc"
