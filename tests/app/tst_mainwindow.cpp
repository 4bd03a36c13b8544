// Starts the real main window offscreen and looks at what it draws.
#include "AppInfo.h"

#include <QDir>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(QuorvelPlugin)

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void opensAtItsInitialSizeOverTheBackground();
    void versionFallsBackWhenEmpty();
};

void MainWindowTest::opensAtItsInitialSizeOverTheBackground()
{
    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/"));
    engine.load(QUrl(QStringLiteral("qrc:/Quorvel/Main.qml")));
    QCOMPARE(engine.rootObjects().size(), 1);
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(window->size(), QSize(600, 700));

    const QImage image = window->grabWindow();
    const QString out = qEnvironmentVariable("QUORVEL_TEST_OUTPUT", QDir::tempPath());
    QDir().mkpath(out);
    QVERIFY(image.save(out + "/mainwindow.png"));

    // The top-leading corner is the night colour: the gradient starts there
    // and the ember glow is in the opposite corner.
    const QColor corner = image.pixelColor(1, 1);
    QVERIFY2(qAbs(corner.red() - 16) <= 2 && qAbs(corner.green() - 5) <= 2 && qAbs(corner.blue() - 4) <= 2,
             qPrintable(corner.name()));
}

void MainWindowTest::versionFallsBackWhenEmpty()
{
    QCOMPARE(AppInfo::versionOrDefault(QString()), QStringLiteral("1.0"));
    QCOMPARE(AppInfo::versionOrDefault(QStringLiteral("2.3.1")), QStringLiteral("2.3.1"));
    QVERIFY(!AppInfo::appVersion().isEmpty());
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
