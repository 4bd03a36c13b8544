// The button styles, the logo and the icons, drawn offscreen over a black
// window so that every sampled pixel is the style's own fill.
#include "TintedIcon.h"
#include "ViewHarness.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(QuorvelPlugin)

namespace {
const QColor ember = QColor::fromRgbF(0.937f, 0.408f, 0.298f);
const QColor gold = QColor::fromRgbF(0.941f, 0.761f, 0.533f);

// The component at (20, 20) of the window.
QByteArray placed(QByteArray component)
{
    component.insert(component.indexOf('{') + 1, " x: 20; y: 20; ");
    return "import QtQuick\nimport QtQuick.Controls.Basic\nimport Quorvel\n" + component;
}
} // namespace

class StylesTest : public QObject
{
    Q_OBJECT

private slots:
    void pressedLook_data();
    void pressedLook();
    void disabledTransportIsDimmed_data();
    void disabledTransportIsDimmed();
    void hoverShowsHelpText_data();
    void hoverShowsHelpText();
    void logoFitsItsFrameWhole_data();
    void logoFitsItsFrameWhole();
    void fitsAnyImageWhole_data();
    void fitsAnyImageWhole();
    void iconsAreTintedWithTheirColour_data();
    void iconsAreTintedWithTheirColour();
    void unknownIconDrawsNothing();
};

// Size, fill and scale of each style, released, held down and released again.
void StylesTest::pressedLook_data()
{
    QTest::addColumn<QByteArray>("qml");
    QTest::addColumn<QPointF>("probe"); // a point of the fill, clear of label and outline
    QTest::addColumn<QColor>("released");
    QTest::addColumn<QColor>("pressed");
    QTest::addColumn<double>("pressedScale");
    QTest::addColumn<QSizeF>("size");

    const QByteArray source = "SourceActionButtonStyle { width: 160; text: \"Open file\"; iconName: \"doc-plus\"; ";
    QTest::newRow("source, prominent") << QByteArray(source + "prominent: true }") << QPointF(6, 22)
                                       << ember << blended(ember, 0.78) << 0.985 << QSizeF(160, 44);
    QTest::newRow("source, quiet") << QByteArray(source + "prominent: false }") << QPointF(6, 22)
                                   << blended(gold, 0.055) << blended(gold, 0.1) << 0.985 << QSizeF(160, 44);
    QTest::newRow("transport, prominent")
        << QByteArray("TransportButtonStyle { prominent: true; iconName: \"play-fill\" }") << QPointF(23, 40)
        << ember << blended(ember, 0.78) << 0.94 << QSizeF(46, 46);
    QTest::newRow("transport, plain")
        << QByteArray("TransportButtonStyle { iconName: \"stop-fill\" }") << QPointF(17, 29)
        << blended(gold, 0.055) << blended(gold, 0.12) << 0.94 << QSizeF(34, 34);
    QTest::newRow("queue toolbar") << QByteArray("QueueToolbarButtonStyle { iconName: \"folder-plus\" }")
                                   << QPointF(14, 3) << blended(gold, 0.055) << blended(gold, 0.12) << 1.0
                                   << QSizeF(28, 28);
}

void StylesTest::pressedLook()
{
    QFETCH(QByteArray, qml);
    QFETCH(QPointF, probe);
    QFETCH(QColor, released);
    QFETCH(QColor, pressed);
    QFETCH(double, pressedScale);
    QFETCH(QSizeF, size);

    ViewHarness harness({240, 100});
    QQuickItem *button = harness.load(placed(qml));
    QVERIFY(button);
    QCOMPARE(button->size(), size);
    const QPoint at = button->mapToScene(probe).toPoint();
    const QPoint centre = button->mapToScene(QPointF(button->width() / 2, button->height() / 2)).toPoint();
    QVERIFY2(closeColors(harness.grab().pixelColor(at), released), qPrintable(harness.grab().pixelColor(at).name()));

    QTest::mousePress(&harness.window(), Qt::LeftButton, {}, centre);
    QTRY_COMPARE(button->scale(), pressedScale);
    QTRY_VERIFY2(closeColors(harness.grab().pixelColor(at), pressed), qPrintable(harness.grab().pixelColor(at).name()));

    QTest::mouseRelease(&harness.window(), Qt::LeftButton, {}, centre);
    QTRY_COMPARE(button->scale(), 1.0);
    QTRY_VERIFY(closeColors(harness.grab().pixelColor(at), released));
}

void StylesTest::disabledTransportIsDimmed_data()
{
    QTest::addColumn<bool>("prominent");
    QTest::addColumn<QColor>("fill");

    QTest::newRow("prominent") << true << ember;
    QTest::newRow("plain") << false << blended(gold, 0.055);
}

void StylesTest::disabledTransportIsDimmed()
{
    QFETCH(bool, prominent);
    QFETCH(QColor, fill);

    ViewHarness harness({120, 100});
    QQuickItem *button = harness.load(placed(QByteArray("TransportButtonStyle { enabled: false; prominent: ")
                                             + (prominent ? "true" : "false") + "; iconName: \"stop-fill\" }"));
    QVERIFY(button);
    const QPoint at = button->mapToScene(QPointF(button->width() / 2, button->height() * 0.85)).toPoint();
    const QColor seen = harness.grab().pixelColor(at);
    QVERIFY2(closeColors(seen, blended(fill, 0.28)), qPrintable(seen.name()));

    // A disabled button ignores the press: it neither shrinks nor darkens.
    QTest::mousePress(&harness.window(), Qt::LeftButton, {}, at);
    QCOMPARE(button->scale(), 1.0);
    QTest::mouseRelease(&harness.window(), Qt::LeftButton, {}, at);
}

void StylesTest::hoverShowsHelpText_data()
{
    QTest::addColumn<QByteArray>("style");

    QTest::newRow("source") << QByteArray("SourceActionButtonStyle { text: \"Open file\"; ");
    QTest::newRow("transport") << QByteArray("TransportButtonStyle { iconName: \"stop-fill\"; ");
    QTest::newRow("queue toolbar") << QByteArray("QueueToolbarButtonStyle { iconName: \"doc-plus\"; ");
}

void StylesTest::hoverShowsHelpText()
{
    QFETCH(QByteArray, style);

    ViewHarness harness({240, 100});
    QQuickItem *button = harness.load(
        placed(style + "toolTipText: \"Open files\"; readonly property bool tipShown: ToolTip.visible; "
                       "readonly property string tipText: ToolTip.text }"));
    QVERIFY(button);
    QVERIFY(!button->property("tipShown").toBool());
    QTest::mouseMove(&harness.window(), button->mapToScene(QPointF(button->width() / 2, 4)).toPoint());
    QTRY_VERIFY(button->property("tipShown").toBool());
    QCOMPARE(button->property("tipText").toString(), QStringLiteral("Open files"));
}

void StylesTest::logoFitsItsFrameWhole_data()
{
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QRect>("expected"); // where the square image lands inside the frame

    QTest::newRow("92 x 92") << QSize(92, 92) << QRect(0, 0, 92, 92);
    QTest::newRow("wide") << QSize(92, 60) << QRect(16, 0, 60, 60);
    QTest::newRow("tall") << QSize(60, 92) << QRect(0, 16, 60, 60);
}

void StylesTest::logoFitsItsFrameWhole()
{
    QFETCH(QSize, frame);
    QFETCH(QRect, expected);

    const QColor magenta(255, 0, 255);
    ViewHarness harness({140, 140}, magenta);
    QQuickItem *logo = harness.load(placed(QStringLiteral("FilteredLogo { width: %1; height: %2 }")
                                               .arg(frame.width())
                                               .arg(frame.height())
                                               .toUtf8()));
    QVERIFY(logo);
    QVERIFY(logo->property("valid").toBool());

    // The logo's tile has rounded corners, so probe along the middle lines:
    // drawn just inside the expected square, untouched just outside it.
    const QImage image = harness.grab();
    const QRect square = expected.translated(20, 20);
    const int midX = square.center().x();
    const int midY = square.center().y();
    QVERIFY(!closeColors(image.pixelColor(square.left() + 2, midY), magenta, 40));
    QVERIFY(!closeColors(image.pixelColor(square.right() - 2, midY), magenta, 40));
    QVERIFY(!closeColors(image.pixelColor(midX, square.top() + 2), magenta, 40));
    QVERIFY(!closeColors(image.pixelColor(midX, square.bottom() - 2), magenta, 40));
    QVERIFY(closeColors(image.pixelColor(square.left() - 2, midY), magenta));
    QVERIFY(closeColors(image.pixelColor(square.right() + 2, midY), magenta));
    QVERIFY(closeColors(image.pixelColor(midX, square.top() - 2), magenta));
    QVERIFY(closeColors(image.pixelColor(midX, square.bottom() + 2), magenta));
}

void StylesTest::fitsAnyImageWhole_data()
{
    QTest::addColumn<QSizeF>("natural");
    QTest::addColumn<QRectF>("frame");
    QTest::addColumn<QRectF>("drawn");

    QTest::newRow("wide image, square frame") << QSizeF(200, 100) << QRectF(0, 0, 92, 92) << QRectF(0, 23, 92, 46);
    QTest::newRow("tall image, square frame") << QSizeF(50, 100) << QRectF(0, 0, 92, 92) << QRectF(23, 0, 46, 92);
    QTest::newRow("small image grows") << QSizeF(24, 24) << QRectF(10, 10, 92, 92) << QRectF(10, 10, 92, 92);
    QTest::newRow("empty frame") << QSizeF(24, 24) << QRectF(0, 0, 0, 92) << QRectF();
}

void StylesTest::fitsAnyImageWhole()
{
    QFETCH(QSizeF, natural);
    QFETCH(QRectF, frame);
    QFETCH(QRectF, drawn);
    QCOMPARE(VectorImage::fittedRect(natural, frame), drawn);
}

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
    QQuickItem *icon = harness.load(placed(QStringLiteral("TintedIcon { width: 40; height: 40; name: \"%1\"; "
                                                          "color: \"#00ff00\" }")
                                               .arg(name)
                                               .toUtf8()));
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
