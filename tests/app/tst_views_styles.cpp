// The icons the styles draw: every symbol file loads and paints whole in the
// colour it is given, and an unknown name paints nothing.
#include "TintedIcon.h"

#include <QDirIterator>
#include <QPainter>
#include <QRegularExpression>
#include <QTest>
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

    TintedIcon icon;
    icon.setName(name);
    icon.setColor(QColor(0, 255, 0));
    icon.setSize({40, 40});
    QVERIFY(icon.isValid());
    QImage image(40, 40, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    QPainter painter(&image);
    icon.paint(&painter);
    painter.end();
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
