// WaveformView: the resampling, where the bars go, when it repaints, and what
// reaches the screen.
#include "WaveformView.h"

#include <QPainter>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <functional>

namespace {
QList<double> filled(qsizetype n, double value)
{
    return QList<double>(n, value);
}

using Change = std::function<void(WaveformView &)>;

// Counts how often the scene graph asks the view to paint itself.
class CountingWaveformView : public WaveformView
{
public:
    int paints = 0;
    void paint(QPainter *painter) override
    {
        ++paints;
        WaveformView::paint(painter);
    }
};
} // namespace

Q_DECLARE_METATYPE(Change)

class WaveformViewTest : public QObject
{
    Q_OBJECT

private slots:
    void resamples_data();
    void resamples();
    void fitsBarsToWidth_data();
    void fitsBarsToWidth();
    void activeByBarCentre_data();
    void activeByBarCentre();
    void repaintsOnlyOnAVisibleChange_data();
    void repaintsOnlyOnAVisibleChange();
    void drawsPlayedBarsInGradient();
};

void WaveformViewTest::resamples_data()
{
    QTest::addColumn<QList<double>>("samples");
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<double>>("values");

    QTest::newRow("no bars") << filled(5, 0.3) << 0 << QList<double>();
    QTest::newRow("placeholder wave") << QList<double>() << 4 << QList<double>{0.08, 0.15, 0.13, 0.11};
    QTest::newRow("silence") << filled(50, 0.0) << 4 << filled(4, 0.0);
    QTest::newRow("one sample fills every bar") << QList<double>{0.02} << 5 << filled(5, 1.0);
    // Seven samples into three bars: 0...1, 2...3, 4...6.
    const double q = 0.2, l = 0.8;
    QTest::newRow("loud sample opens bar 1") << QList<double>{q, q, l, q, q, q, q} << 3
                                             << QList<double>{0.25, 1.0, 0.25};
    QTest::newRow("loud sample closes bar 1") << QList<double>{q, q, q, l, q, q, q} << 3
                                              << QList<double>{0.25, 1.0, 0.25};
    QTest::newRow("loud last sample") << QList<double>{q, q, q, q, q, q, l} << 3
                                      << QList<double>{0.25, 0.25, 1.0};
    QTest::newRow("fewer samples than bars") << QList<double>{0.5, 1.0} << 5
                                             << QList<double>{0.5, 0.5, 0.5, 1.0, 1.0};
}

void WaveformViewTest::resamples()
{
    QFETCH(QList<double>, samples);
    QFETCH(int, count);
    QFETCH(QList<double>, values);

    const QList<double> seen = WaveformView::resampledSamples(samples, count);
    QCOMPARE(seen.size(), values.size());
    for (qsizetype i = 0; i < seen.size(); ++i)
        QVERIFY2(qAbs(seen[i] - values[i]) < 1e-12, qPrintable(QStringLiteral("bar %1: %2").arg(i).arg(seen[i])));
}

// However many bars fit, they are centred: the margins left and right match.
void WaveformViewTest::fitsBarsToWidth_data()
{
    QTest::addColumn<QSizeF>("size");
    QTest::addColumn<double>("barWidth");
    QTest::addColumn<double>("spacing");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("drawnWidth");

    QTest::newRow("a track row") << QSizeF(112, 28) << 1.5 << 2.5 << 28 << 1.5;
    QTest::newRow("thin bars drawn 1 wide") << QSizeF(10, 10) << 0.2 << 1.0 << 5 << 1.0;
    QTest::newRow("negative spacing is none") << QSizeF(10, 10) << 2.0 << -4.0 << 5 << 2.0;
    QTest::newRow("narrower than a bar") << QSizeF(3, 10) << 8.0 << 2.0 << 1 << 8.0;
    QTest::newRow("no width") << QSizeF(0, 10) << 2.0 << 2.0 << 0 << 0.0;
    QTest::newRow("no height") << QSizeF(100, 0) << 2.0 << 2.0 << 0 << 0.0;
}

void WaveformViewTest::fitsBarsToWidth()
{
    QFETCH(QSizeF, size);
    QFETCH(double, barWidth);
    QFETCH(double, spacing);
    QFETCH(int, count);
    QFETCH(double, drawnWidth);

    const WaveformGeometry g = WaveformView::layout(filled(3, 0.5), size, 0, barWidth, spacing);
    QCOMPARE(g.bars.size(), count);
    if (count == 0)
        return;
    QCOMPARE(g.bars.first().rect.width(), drawnWidth);
    const double left = g.bars.first().rect.left();
    const double right = size.width() - g.bars.last().rect.right();
    QVERIFY(left >= 0);
    QVERIFY2(count == 1 || qAbs(left - right) < 1e-9, qPrintable(QStringLiteral("%1 / %2").arg(left).arg(right)));
}

void WaveformViewTest::activeByBarCentre_data()
{
    QTest::addColumn<double>("progress");
    QTest::addColumn<int>("active");

    // Bar centres of a track row (28 bars on 112 points) sit at 2, 6, 10, ... 110.
    QTest::newRow("negative") << -0.5 << 0;
    QTest::newRow("start") << 0.0 << 0;
    QTest::newRow("exactly at a centre") << 54.0 / 112 << 14;
    QTest::newRow("just before a centre") << 53.9 / 112 << 13;
    QTest::newRow("end") << 1.0 << 28;
    QTest::newRow("beyond the end") << 3.0 << 28;
    QTest::newRow("not a number") << std::nan("") << 0;
}

void WaveformViewTest::activeByBarCentre()
{
    QFETCH(double, progress);
    QFETCH(int, active);

    const WaveformGeometry g = WaveformView::layout(filled(300, 0.4), {112, 28}, progress, 1.5, 2.5);
    for (int i = 0; i < g.bars.size(); ++i)
        QCOMPARE(g.bars[i].active, i < active); // the played bars are a prefix
}

// A frame costs the whole window under software rendering, and progress moves
// twenty times a second: only a change that shows may repaint.
void WaveformViewTest::repaintsOnlyOnAVisibleChange_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<bool>("repaints");

    // 100 points, bars 2 wide and 1 apart: 33 bars with centres at 2, 5, 8,
    // ... 50, 53, ...: at 0.5 progress 17 are played, the 18th at 0.53.
    QTest::newRow("same fields and size") << Change([](WaveformView &v) {
        v.setSamples({0.2, 0.4});
        v.setSize({100, 30});
    }) << false;
    QTest::newRow("progress within a bar") << Change([](WaveformView &v) { v.setProgress(0.52); }) << false;
    QTest::newRow("progress across a bar") << Change([](WaveformView &v) { v.setProgress(0.54); }) << true;
    QTest::newRow("samples") << Change([](WaveformView &v) { v.setSamples({0.4, 0.2}); }) << true;
    QTest::newRow("spacing") << Change([](WaveformView &v) { v.setSpacing(3); }) << true;
    QTest::newRow("height") << Change([](WaveformView &v) { v.setHeight(40); }) << true;
}

void WaveformViewTest::repaintsOnlyOnAVisibleChange()
{
    QFETCH(Change, change);
    QFETCH(bool, repaints);

    QQuickWindow window;
    window.resize(120, 60);
    CountingWaveformView view;
    view.setParentItem(window.contentItem());
    view.setSize({100, 30});
    view.setSamples({0.2, 0.4});
    view.setProgress(0.5);
    view.setBarWidth(2);
    view.setSpacing(1);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(view.paints > 0);
    const int before = view.paints;

    change(view);
    // Another frame is rendered either way, so an unchanged view had its chance to repaint.
    QSignalSpy frames(&window, &QQuickWindow::frameSwapped);
    window.update();
    QVERIFY(frames.wait());
    QCOMPARE(view.paints, before + (repaints ? 1 : 0));
}

void WaveformViewTest::drawsPlayedBarsInGradient()
{
    // Ten full-height bars, 10 wide and 10 apart from x = 5 on a 200 x 100
    // canvas; at half progress bars 0 to 4 are played.
    WaveformView view;
    view.setSize({200, 100});
    view.setSamples({0.5});
    view.setProgress(0.5);
    view.setBarWidth(10);
    view.setSpacing(10);
    view.setActiveColors({QColor(Qt::red), QColor(Qt::blue)});
    view.setInactiveColor(Qt::green);
    const auto paint = [&] {
        QImage image(200, 100, QImage::Format_RGB32);
        image.fill(Qt::black);
        QPainter painter(&image);
        view.paint(&painter);
        return image;
    };
    const auto near = [](const QColor &a, const QColor &b) {
        return qAbs(a.red() - b.red()) <= 8 && qAbs(a.green() - b.green()) <= 8 && qAbs(a.blue() - b.blue()) <= 8;
    };

    const QImage image = paint();
    const int played = 30; // centre of bar 1
    const int unplayed = 150; // centre of bar 7
    // The gradient spans the canvas, red at its bottom edge and blue at its top.
    QVERIFY2(near(image.pixelColor(played, 92), QColor(235, 0, 20)), qPrintable(image.pixelColor(played, 92).name()));
    QVERIFY2(near(image.pixelColor(played, 8), QColor(20, 0, 235)), qPrintable(image.pixelColor(played, 8).name()));
    QVERIFY(near(image.pixelColor(unplayed, 50), Qt::green));
    QVERIFY(near(image.pixelColor(20, 50), Qt::black)); // the gap between bars 0 and 1

    view.setProgress(1);
    QVERIFY(near(paint().pixelColor(unplayed, 50), QColor(128, 0, 127)));
}

QTEST_MAIN(WaveformViewTest)
#include "tst_views_waveformview.moc"
