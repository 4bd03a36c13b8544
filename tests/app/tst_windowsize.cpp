// The remembered size survives runs; a damaged or hostile record never opens an unusable window.
// The title bar's commands act on the real window.
#include "WindowCommands.h"
#include "WindowResizer.h"
#include "WindowSize.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>
#include <limits>

class WindowSizeTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void loadsWhatIsStored_data();
    void loadsWhatIsStored();
    void usableSizeBoundsHostileValues_data();
    void usableSizeBoundsHostileValues();
    void followsARealWindowAndSurvivesARestart();
    void theTitleBarZoomToggles();
};

void WindowSizeTest::init()
{
    QSettings().clear();
}

void WindowSizeTest::loadsWhatIsStored_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QSizeF>("expected");
    const QSizeF fallback(600, 700);
    QTest::newRow("nothing stored") << QVariant() << fallback;
    QTest::newRow("only width") << QVariant(QByteArray(R"({"width":900})")) << fallback;
    QTest::newRow("text for a number") << QVariant(QByteArray(R"({"width":"900","height":800})")) << fallback;
    QTest::newRow("not JSON") << QVariant(QByteArray("900x800")) << fallback;
    QTest::newRow("an array") << QVariant(QByteArray("[900,800]")) << fallback;
    QTest::newRow("extra members ignored") << QVariant(QByteArray(R"({"height":800.5,"x":1,"width":900})"))
                                           << QSizeF(900, 800.5);
}

void WindowSizeTest::loadsWhatIsStored()
{
    QFETCH(QVariant, stored);
    QFETCH(QSizeF, expected);
    QSettings settings;
    if (stored.isValid())
        settings.setValue(windowsize::settingsKey, stored);
    QCOMPARE(windowsize::loadSavedWindowSize(settings), expected);
}

void WindowSizeTest::usableSizeBoundsHostileValues_data()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::addColumn<QSizeF>("remembered");
    QTest::addColumn<QSizeF>("expected");
    QTest::newRow("ordinary") << QSizeF(900, 800) << QSizeF(900, 800);
    QTest::newRow("nan") << QSizeF(nan, nan) << QSizeF(600, 700);
    QTest::newRow("infinite") << QSizeF(inf, -inf) << QSizeF(600, 700);
    QTest::newRow("negative and zero") << QSizeF(-5, 0) << QSizeF(600, 700);
    QTest::newRow("below the minimum") << QSizeF(100, 200) << QSizeF(600, 700);
    QTest::newRow("absurdly large") << QSizeF(1e12, 1e300) << QSizeF(1920, 1080);
}

void WindowSizeTest::usableSizeBoundsHostileValues()
{
    QFETCH(QSizeF, remembered);
    QFETCH(QSizeF, expected);
    QCOMPARE(windowsize::usableSize(remembered, QSizeF(1920, 1080)), expected);
    // A screen smaller than the minimum still gets a window of the minimum size.
    QCOMPARE(windowsize::usableSize(remembered, QSizeF(320, 240)), QSizeF(600, 700));
}

// Opening, and a move under one point, is no resize; a resize is written
// once, when it settles or the window closes; a window made smaller than the
// minimum grows back to it, and that is all that is remembered.
void WindowSizeTest::followsARealWindowAndSurvivesARestart()
{
    QWindow window;
    WindowResizer resizer;
    QSignalSpy saved(&resizer, &WindowResizer::saved);
    resizer.setWindow(&window);
    window.resize(640, 0); // width first, as QML sets them
    window.resize(640, 720);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE(resizer.size(), QSizeF(640, 720));
    resizer.observeWindowSize(QSizeF(640.5, 720));
    QCOMPARE(saved.count(), 0);

    // A drag-resize: every step is known at once, and written once it settles.
    for (int step = 1; step <= 10; ++step)
        resizer.observeWindowSize(QSizeF(800 + 2 * step, 740 + 2 * step));
    QCOMPARE(resizer.size(), QSizeF(820, 760));
    QCOMPARE(saved.count(), 0);
    QTRY_COMPARE(saved.count(), 1);
    QCOMPARE(saved.first().first().toSizeF(), QSizeF(820, 760));
    QCOMPARE(WindowResizer().size(), QSizeF(820, 760)); // the next run

    window.resize(480, 520);
    QTRY_COMPARE(window.size(), QSize(600, 700));
    QTRY_COMPARE(windowsize::loadSavedWindowSize(QSettings()), QSizeF(600, 700));
    window.resize(700, 800);
    QTRY_COMPARE(resizer.size(), QSizeF(700, 800));
    window.close(); // closing writes the size that had no time to settle
    QCOMPARE(windowsize::loadSavedWindowSize(QSettings()), QSizeF(700, 800));
    for (const QList<QVariant> &save : std::as_const(saved)) {
        const QSizeF size = save.first().toSizeF();
        QVERIFY(size.width() >= 600 && size.height() >= 700);
    }
}

// Zoom maximises the window and, once zoomed, gives it back its own size.
void WindowSizeTest::theTitleBarZoomToggles()
{
    QWindow window;
    window.resize(640, 720);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    WindowCommands titleBar;
    titleBar.setWindow(&window);
    for (const QWindow::Visibility expected : {QWindow::Maximized, QWindow::Windowed}) {
        QVERIFY(QMetaObject::invokeMethod(&titleBar, "toggleZoom")); // as the title bar's QML calls it
        QTRY_COMPARE(window.visibility(), expected);
    }
}

QTEST_MAIN(WindowSizeTest)
#include "tst_windowsize.moc"
