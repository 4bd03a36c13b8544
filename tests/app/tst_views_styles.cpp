// The icons the styles draw, offscreen over a black window: every symbol file
// loads and is tinted whole with the colour it is given.
#include "TintedIcon.h"
#include "ViewHarness.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(QuorvelPlugin)

class StylesTest : public QObject
{
    Q_OBJECT

private slots:
    void iconsAreTintedWithTheirColour_data();
    void iconsAreTintedWithTheirColour();
    void unknownIconDrawsNothing();
};

void StylesTest::iconsAreTintedWithTheirColour_data()
{
    QTest::addColumn<QString>("name");
    QDirIterator it(QStringLiteral(":/Quorvel/icons"), {QStringLiteral("*.svg")});
    while (it.hasNext()) {
        const QString name = QFileInfo(it.next()).completeBaseName();
        QTest::newRow(qPrintable(name)) << name;
    }
}

void StylesTest::iconsAreTintedWithTheirColour()
{
    QFETCH(QString, name);

    ViewHarness harness({80, 80});
    QQuickItem *icon = harness.load(QStringLiteral("import QtQuick\nimport Quorvel\nTintedIcon { x: 20; y: 20; "
                                                   "width: 40; height: 40; name: \"%1\"; color: \"#00ff00\" }")
                                        .arg(name)
                                        .toUtf8());
    QVERIFY(icon);
    QVERIFY(icon->property("valid").toBool());
    const QImage image = harness.grab().copy(20, 20, 40, 40);
    int covered = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            QVERIFY2(c.red() == 0 && c.blue() == 0, qPrintable(c.name()));
            covered += c.green() > 200;
        }
    }
    // Enough solid ink to be a symbol, not a stray line and not a blot.
    QVERIFY2(covered > 40 && covered < 1200, qPrintable(QString::number(covered)));
}

void StylesTest::unknownIconDrawsNothing()
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("no-such-icon")));
    TintedIcon icon;
    icon.setName(QStringLiteral("no-such-icon"));
    QVERIFY(!icon.isValid());
    QCOMPARE(icon.implicitWidth(), 0.0);
}

QTEST_MAIN(StylesTest)
#include "tst_views_styles.moc"
