// The whole main screen, offscreen, over the simulated audio platform: what it
// shows with and without a queue, the picker, the track list, drags and the
// remembered size.
#include "ContentView.h"
#include "SimulatedAudioPlatform.h"
#include "TestAudio.h"
#include "WindowSize.h"

#include <QDir>
#include <QMimeData>
#include <QQuickItem>
#include <QQuickWindow>
#include <QQmlApplicationEngine>
#include <QSettings>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(QuorvelPlugin)

namespace {
struct Screen
{
    explicit Screen(const QList<QUrl> &launchURLs = {})
        : content(platform, launchURLs)
    {
        platform.addDevice({1, "Speakers"});
        platform.addDevice({2, "USB DAC"});
        platform.addDevice({3, "HDMI"});
        platform.setDefaultOutputDevice(1);
        ContentView::provide(&content);
        engine.addImportPath(QStringLiteral("qrc:/"));
        engine.load(QUrl(QStringLiteral("qrc:/Quorvel/Main.qml")));
        window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    }

    // Repeater and list delegates have no QObject parent, so walk the
    // visual tree as well as the object tree.
    QQuickItem *item(const char *name) const
    {
        if (auto *found = window->findChild<QQuickItem *>(QLatin1String(name)))
            return found;
        return findVisual(window->contentItem(), QLatin1String(name));
    }
    static QQuickItem *findVisual(QQuickItem *from, QLatin1String name)
    {
        for (QQuickItem *child : from->childItems()) {
            if (child->objectName() == name)
                return child;
            if (QQuickItem *found = findVisual(child, name))
                return found;
        }
        return nullptr;
    }

    QList<QUrl> tracks(int count)
    {
        QList<QUrl> urls;
        for (int i = 0; i < count; ++i) {
            const QString path = dir->filePath(QStringLiteral("track%1.wav").arg(i, 5, 10, QLatin1Char('0')));
            testaudio::Recipe recipe;
            recipe.frames = 44100;
            recipe.seed = quint32(i + 1);
            recipe.signal = i % 2 ? testaudio::Signal::Noise : testaudio::Signal::Tone;
            if (count <= 200) // a huge queue is about rows, not files
                testaudio::write(path, recipe);
            urls << QUrl::fromLocalFile(path);
        }
        return urls;
    }

    // For a person to look at; where depends on the build.
    void save(const QString &name) const
    {
        const QString out = qEnvironmentVariable("QUORVEL_TEST_OUTPUT", QDir::tempPath());
        QDir().mkpath(out);
        window->grabWindow().save(out + "/" + name);
    }

    std::unique_ptr<QTemporaryDir> dir = testaudio::makeTempDir();
    SimulatedAudioPlatform platform;
    ContentView content;
    QQmlApplicationEngine engine;
    QQuickWindow *window = nullptr;
};

// A press, a move and a release at whole points (sub-point moves are the
// click rule's own tests).
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
} // namespace

class MainScreenTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void theCardGivesWayToThePanels();
    void tracksGivenAtLaunchAreLaidOutLikeAnyOther();
    void onlyADragOfFilesIsHighlighted();
    void thePickerListsDevicesAndAClickSelects();
    void anUnpluggedDeviceHandsThePlayingTrackOnAtItsPosition();
    void aRowClickSeeksAndTheCurrentRowIsCentred();
    void aHugeQueueBuildsOnlyVisibleRows();

private:
    QTemporaryDir m_config;
};

void MainScreenTest::initTestCase()
{
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    qputenv("HOME", QFile::encodeName(m_config.path()));
    QCoreApplication::setOrganizationName(QStringLiteral("QuorvelTest"));
    QCoreApplication::setApplicationName(QStringLiteral("MainScreenTest"));
}

// Opening the window is no resize: the first launch writes no size.
void MainScreenTest::theCardGivesWayToThePanels()
{
    Screen screen;
    QVERIFY(screen.window);
    QVERIFY(QTest::qWaitForWindowExposed(screen.window));
    QVERIFY(screen.item("emptyState")->isVisible());
    QVERIFY(!screen.item("queuePanel")->isVisible());
    QCOMPARE(screen.item("versionText")->property("text").toString(), "v" + QStringLiteral(QUORVEL_VERSION));
    QCOMPARE(screen.item("selectedDeviceName")->property("text").toString(), "Speakers");
    screen.save("empty-state.png");
    QVERIFY(!QSettings().contains(windowsize::settingsKey));

    const QList<QUrl> tracks = screen.tracks(12);
    screen.content.intake()->loadPlaylist(tracks);
    QTRY_VERIFY(screen.item("nowPlayingPanel")->isVisible());
    QVERIFY(screen.item("queuePanel")->isVisible());
    QVERIFY(!screen.item("emptyState")->isVisible());
    QCOMPARE(screen.item("currentTrackTitle")->property("text").toString(), "track00000.wav");
    screen.content.transport()->playTrack(1, 0.4);
    QTRY_VERIFY(screen.content.waveforms()->hasWaveform(tracks.at(4)));
    QTest::qWait(50);
    screen.save("playing-queue.png");

    // The Stop button follows the engine and the progress.
    QVERIFY(screen.item("stopButton")->isEnabled());
    screen.content.transport()->stopPlayback();
    QTRY_VERIFY(!screen.item("stopButton")->isEnabled());
}

void MainScreenTest::tracksGivenAtLaunchAreLaidOutLikeAnyOther()
{
    auto album = testaudio::makeTempDir();
    QVERIFY(testaudio::write(album->filePath("a.wav"), {}));
    QVERIFY(testaudio::write(album->filePath("b.flac"), {SF_FORMAT_FLAC | SF_FORMAT_PCM_16}));
    Screen screen({QUrl::fromLocalFile(album->path())});
    QVERIFY(QTest::qWaitForWindowExposed(screen.window));
    QTRY_COMPARE(screen.content.queue()->count(), 2);
    QCOMPARE(screen.content.player()->currentURL(), QUrl::fromLocalFile(album->filePath("a.wav")));
    QTRY_VERIFY(screen.item("queuePanel")->height() > 0);
}

void MainScreenTest::onlyADragOfFilesIsHighlighted()
{
    Screen screen;
    QVERIFY(QTest::qWaitForWindowExposed(screen.window));
    QVERIFY(!screen.item("dropHighlight")->isEnabled()); // never takes the drop or a click
    // Whether the window takes a drag of what `fill` puts in; the drag then leaves.
    const auto targets = [&](auto fill) {
        QMimeData data;
        fill(data);
        QDragEnterEvent enter(QPoint(300, 300), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(screen.window, &enter);
        const bool targeted = screen.content.intake()->isDropTargeted();
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(screen.window, &leave);
        return targeted && !screen.content.intake()->isDropTargeted();
    };
    QVERIFY(!targets([](QMimeData &d) { d.setText(QStringLiteral("just words")); }));
    QVERIFY(!targets([](QMimeData &d) { d.setUrls({QUrl(QStringLiteral("https://example.org/a.flac"))}); }));
    QVERIFY(targets([&](QMimeData &d) { d.setUrls({QUrl::fromLocalFile(screen.dir->filePath("a.wav"))}); }));
}

void MainScreenTest::thePickerListsDevicesAndAClickSelects()
{
    Screen screen;
    QVERIFY(QTest::qWaitForWindowExposed(screen.window));
    QQuickItem *button = screen.item("devicePickerButton");
    const auto open = [&] {
        QTest::mouseClick(screen.window, Qt::LeftButton, {}, button->mapToScene({40, 30}).toPoint());
        QTRY_VERIFY(screen.content.devices()->isDevicePickerPresented());
    };
    open();
    QQuickItem *list = nullptr;
    QTRY_VERIFY((list = screen.item("deviceList")));
    QTRY_COMPARE(list->property("count").toInt(), 3);
    QTest::keyClick(screen.window, Qt::Key_Escape);
    QTRY_VERIFY(!screen.content.devices()->isDevicePickerPresented());

    open();
    QQuickItem *row = nullptr;
    QTRY_VERIFY((row = rowAt(list, 2))); // "Speakers" sorts after "HDMI" and before "USB DAC"
    QTest::mouseClick(screen.window, Qt::LeftButton, {}, row->mapToScene({50, 18}).toPoint());
    QTRY_VERIFY(!screen.content.devices()->isDevicePickerPresented());
    QCOMPARE(screen.item("selectedDeviceName")->property("text").toString(), "USB DAC");

    // A list too long for the popover scrolls with a bar beside its rows.
    for (quint32 id = 4; id < 16; ++id)
        screen.platform.addDevice({id, QStringLiteral("Output %1").arg(id)});
    screen.content.devices()->loadAudioDevices();
    open();
    QQuickItem *bar = screen.item("deviceScrollBar");
    QTRY_VERIFY(bar->isVisible());
    QTRY_VERIFY((row = rowAt(list, 0)));
    QVERIFY(row->mapToScene({row->width(), 0}).x() <= bar->mapToScene({0, 0}).x());
    QTest::qWait(50);
    screen.save("device-picker.png");
}

void MainScreenTest::anUnpluggedDeviceHandsThePlayingTrackOnAtItsPosition()
{
    Screen screen;
    QVERIFY(QTest::qWaitForWindowExposed(screen.window));
    const QList<QUrl> tracks = screen.tracks(1);
    const QByteArray data = testaudio::rawData(tracks.first().toLocalFile());
    const qint64 frames = data.size() / 4;
    screen.content.intake()->loadPlaylist(tracks);
    screen.content.transport()->playTrack(0, 0.5);
    QTRY_VERIFY(screen.content.player()->isPlaying());

    screen.platform.removeDevice(1); // the selected default goes away mid-track
    QCOMPARE(screen.item("selectedDeviceName")->property("text").toString(), "HDMI");
    QTRY_VERIFY(screen.content.player()->isPlaying());
    QTRY_VERIFY(screen.platform.events().contains("start 3"));

    // The new device receives the rest of the track, from about where it was.
    const qint64 written = screen.platform.renderToEnd();
    QVERIFY(written > 0);
    const qint64 from = frames - written;
    QVERIFY2(from >= frames / 2 && from < frames / 2 + 44100 / 5, qPrintable(QString::number(from)));
    QVERIFY(screen.platform.captured(3).startsWith(data.mid(from * 4)));
    QVERIFY(screen.platform.captured(2).isEmpty());
}

void MainScreenTest::aRowClickSeeksAndTheCurrentRowIsCentred()
{
    Screen screen;
    QVERIFY(QTest::qWaitForWindowExposed(screen.window));
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
    QCOMPARE(screen.item("topFade")->opacity(), 0.0);
    QTRY_COMPARE(screen.item("bottomFade")->opacity(), 1.0);

    screen.content.transport()->playTrack(104, 0.0);
    const double centred = screen.content.tracks()->centredOffset(104, 120, list->height());
    QVERIFY(centred > 0);
    QTRY_COMPARE(list->property("contentY").toDouble(), centred);
    QTRY_COMPARE(screen.item("topFade")->opacity(), 1.0);
    // The current row's fill lies under row 105, wherever the list scrolled.
    QQuickItem *fill = screen.item("currentRowFill");
    QCOMPARE(fill->mapToScene({0, 0}).y(), rowAt(list, 104)->mapToScene({0, 0}).y());
    QCOMPARE(fill->height(), rowAt(list, 104)->height());
}

void MainScreenTest::aHugeQueueBuildsOnlyVisibleRows()
{
    Screen screen;
    QVERIFY(QTest::qWaitForWindowExposed(screen.window));
    screen.content.intake()->loadPlaylist(screen.tracks(10000));
    QQuickItem *list = screen.item("trackListView");
    QTRY_VERIFY(list->height() > 0);
    const auto built = [&] {
        return list->property("contentItem").value<QQuickItem *>()->childItems().size();
    };
    QVERIFY2(built() < 40, qPrintable(QString::number(built())));
    for (int step = 0; step < 20; ++step) {
        QMetaObject::invokeMethod(list, "positionViewAtIndex", Q_ARG(int, step * 500), Q_ARG(int, 0));
        QCoreApplication::processEvents();
    }
    QMetaObject::invokeMethod(list, "positionViewAtEnd");
    QTRY_VERIFY(rowAt(list, 9999));
    QVERIFY2(built() < 40, qPrintable(QString::number(built())));
}

QTEST_MAIN(MainScreenTest)
#include "tst_mainscreen.moc"
