// WaveformView: the resampling, the bar geometry, and what reaches the screen.
#include "../app/ViewHarness.h"
#include "waveform/WaveformView.h"

#include <QSignalSpy>
#include <QtQml/qqmlextensionplugin.h>

#include <cmath>
#include <functional>

Q_IMPORT_QML_PLUGIN(QuorvelPlugin)

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

// A row of a track list: 112 x 28, bars 1.5 wide and 2.5 apart.
WaveformGeometry trackRow(const QList<double> &samples, double progress)
{
    return WaveformView::layout(samples, {112, 28}, progress, 1.5, 2.5);
}
} // namespace

Q_DECLARE_METATYPE(Change)

class WaveformViewTest : public QObject
{
    Q_OBJECT

private slots:
    void resamples_data();
    void resamples();
    void peakOfEachStretch_data();
    void peakOfEachStretch();
    void laysOutTrackRow();
    void barHeights_data();
    void barHeights();
    void fitsBarsToWidth_data();
    void fitsBarsToWidth();
    void activeByBarCentre_data();
    void activeByBarCentre();
    void settersSignalOnlyChanges();
    void repaintsOnlyOnChange_data();
    void repaintsOnlyOnChange();
    void drawsPlayedBarsInGradient();
};

void WaveformViewTest::resamples_data()
{
    QTest::addColumn<QList<double>>("samples");
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<double>>("values");

    QTest::newRow("no bars") << filled(5, 0.3) << 0 << QList<double>();
    QTest::newRow("placeholder wave")
        << QList<double>() << 11 << QList<double>{0.08, 0.15, 0.13, 0.11, 0.09, 0.16, 0.14, 0.12, 0.10, 0.08, 0.15};
    QTest::newRow("silence") << filled(50, 0.0) << 4 << filled(4, 0.0);
    QTest::newRow("one sample fills every bar") << QList<double>{0.02} << 5 << filled(5, 1.0);
    QTest::newRow("scaled by the loudest") << QList<double>{0.1, 0.2, 0.4, 0.3} << 4
                                           << QList<double>{0.25, 0.5, 1.0, 0.75};
    QTest::newRow("peak of pairs") << QList<double>{0.1, 0.4, 0.2, 0.2, 0.8, 0.0} << 3
                                   << QList<double>{0.5, 0.25, 1.0};
    // Bar i repeats sample (10 * i) / 28.
    const QList<int> source{0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 5, 5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9};
    QList<double> ten, repeated;
    for (int i = 0; i < 10; ++i)
        ten.append((i + 1) / 10.0);
    for (int s : source)
        repeated.append(ten[s]);
    QTest::newRow("10 samples into 28 bars") << ten << 28 << repeated;
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

void WaveformViewTest::peakOfEachStretch_data()
{
    QTest::addColumn<int>("loudSample");
    QTest::addColumn<int>("bar");

    // 1,000 samples into 28 bars: bar 0 is 0...34, bar 1 is 35...70, bar 27 is 964...999.
    QTest::newRow("end of bar 0") << 34 << 0;
    QTest::newRow("start of bar 1") << 35 << 1;
    QTest::newRow("end of bar 1") << 70 << 1;
    QTest::newRow("start of bar 2") << 71 << 2;
    QTest::newRow("end of bar 26") << 963 << 26;
    QTest::newRow("start of the last bar") << 964 << 27;
    QTest::newRow("last sample") << 999 << 27;
}

void WaveformViewTest::peakOfEachStretch()
{
    QFETCH(int, loudSample);
    QFETCH(int, bar);

    QList<double> samples = filled(1000, 0.2);
    samples[loudSample] = 0.8;
    const QList<double> values = WaveformView::resampledSamples(samples, 28);
    QCOMPARE(values.size(), 28);
    for (int i = 0; i < 28; ++i)
        QCOMPARE(values[i], i == bar ? 1.0 : 0.25);
}

void WaveformViewTest::laysOutTrackRow()
{
    QList<double> ramp;
    for (int i = 0; i < 28; ++i)
        ramp.append(i / 27.0);
    const WaveformGeometry g = trackRow(ramp, 0);

    QCOMPARE(g.barCount, 28);
    QCOMPARE(g.step, 4.0);
    QCOMPARE(g.leftOffset, 1.25);
    QCOMPARE(g.cornerRadius, 0.75);
    QCOMPARE(g.bars.size(), 28);
    QCOMPARE(g.bars.first().rect, QRectF(1.25, 12, 1.5, 4));
    const QRectF last = g.bars.last().rect;
    QCOMPARE(last.x(), 109.25);
    QVERIFY(qAbs(last.height() - 25.76) < 1e-9);
    QVERIFY(qAbs(last.y() - 1.12) < 1e-9);
    QCOMPARE(last.right(), 110.75); // the same 1.25 margin on the right
}

void WaveformViewTest::barHeights_data()
{
    QTest::addColumn<QList<double>>("samples");
    QTest::addColumn<QList<double>>("heights"); // of the first bars, on a canvas 100 high

    QTest::newRow("placeholder") << QList<double>() << QList<double>{7.36, 13.8, 11.96};
    QTest::newRow("silence is a 4-point stub") << filled(3, 0.0) << QList<double>{4, 4, 4};
    QTest::newRow("quiet stays a stub") << QList<double>{0.01, 1.0, 0.5} << QList<double>{4, 92, 46};
    QTest::newRow("one sample is full height") << QList<double>{0.3} << QList<double>{92, 92, 92};
}

void WaveformViewTest::barHeights()
{
    QFETCH(QList<double>, samples);
    QFETCH(QList<double>, heights);

    const WaveformGeometry g = WaveformView::layout(samples, {30, 100}, 0, 8, 3);
    QCOMPARE(g.barCount, 3);
    for (qsizetype i = 0; i < heights.size(); ++i) {
        const QRectF r = g.bars[i].rect;
        QVERIFY2(qAbs(r.height() - heights[i]) < 1e-9, qPrintable(QString::number(r.height())));
        QVERIFY(qAbs(r.center().y() - 50) < 1e-9);
    }
}

void WaveformViewTest::fitsBarsToWidth_data()
{
    QTest::addColumn<QSizeF>("size");
    QTest::addColumn<double>("barWidth");
    QTest::addColumn<double>("spacing");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("drawnWidth");
    QTest::addColumn<double>("leftOffset");

    QTest::newRow("now-playing panel") << QSizeF(528, 82) << 2.5 << 3.5 << 88 << 2.5 << 1.75;
    QTest::newRow("thin bars drawn 1 wide") << QSizeF(10, 10) << 0.2 << 1.0 << 5 << 1.0 << 0.5;
    QTest::newRow("negative spacing is none") << QSizeF(10, 10) << 2.0 << -4.0 << 5 << 2.0 << 0.0;
    QTest::newRow("narrower than a bar") << QSizeF(3, 10) << 8.0 << 2.0 << 1 << 8.0 << 0.0;
    QTest::newRow("no width") << QSizeF(0, 10) << 2.0 << 2.0 << 0 << 0.0 << 0.0;
    QTest::newRow("no height") << QSizeF(100, 0) << 2.0 << 2.0 << 0 << 0.0 << 0.0;
}

void WaveformViewTest::fitsBarsToWidth()
{
    QFETCH(QSizeF, size);
    QFETCH(double, barWidth);
    QFETCH(double, spacing);
    QFETCH(int, count);
    QFETCH(double, drawnWidth);
    QFETCH(double, leftOffset);

    const WaveformGeometry g = WaveformView::layout(filled(3, 0.5), size, 0, barWidth, spacing);
    QCOMPARE(g.bars.size(), count);
    if (count == 0)
        return;
    QCOMPARE(g.bars.first().rect.width(), drawnWidth);
    QCOMPARE(g.bars.first().rect.x(), leftOffset);
}

void WaveformViewTest::activeByBarCentre_data()
{
    QTest::addColumn<double>("progress");
    QTest::addColumn<int>("active");

    // Bar centres of a track row sit at 2, 6, 10, ... 110.
    QTest::newRow("negative") << -0.5 << 0;
    QTest::newRow("start") << 0.0 << 0;
    QTest::newRow("half: centres up to x = 56") << 0.5 << 14;
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

    const WaveformGeometry g = trackRow(filled(300, 0.4), progress);
    int seen = 0;
    for (int i = 0; i < g.bars.size(); ++i) {
        // The played bars are a prefix: no unplayed bar precedes a played one.
        QCOMPARE(g.bars[i].active, i < active);
        seen += g.bars[i].active;
    }
    QCOMPARE(seen, active);
}

void WaveformViewTest::settersSignalOnlyChanges()
{
    WaveformView view;
    QSignalSpy samples(&view, &WaveformView::samplesChanged);
    QSignalSpy progress(&view, &WaveformView::progressChanged);
    QSignalSpy colors(&view, &WaveformView::activeColorsChanged);
    QSignalSpy inactive(&view, &WaveformView::inactiveColorChanged);
    for (int round = 0; round < 2; ++round) {
        view.setSamples({0.1, 0.2});
        view.setProgress(0.3);
        view.setActiveColors({QColor(Qt::red), QColor(Qt::blue)});
        view.setInactiveColor(Qt::green);
    }
    QCOMPARE(samples.count(), 1);
    QCOMPARE(progress.count(), 1);
    QCOMPARE(colors.count(), 1);
    QCOMPARE(inactive.count(), 1);
    QCOMPARE(view.resampledSamples(2), (QList<double>{0.5, 1.0}));
}

void WaveformViewTest::repaintsOnlyOnChange_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<bool>("repaints");

    QTest::newRow("same fields") << Change([](WaveformView &v) {
        v.setSamples({0.2, 0.4});
        v.setProgress(0.5);
        v.setBarWidth(2);
        v.setSpacing(1);
    }) << false;
    QTest::newRow("same size") << Change([](WaveformView &v) { v.setSize({100, 30}); }) << false;
    QTest::newRow("samples") << Change([](WaveformView &v) { v.setSamples({0.4, 0.2}); }) << true;
    QTest::newRow("progress") << Change([](WaveformView &v) { v.setProgress(0.6); }) << true;
    QTest::newRow("spacing") << Change([](WaveformView &v) { v.setSpacing(3); }) << true;
    QTest::newRow("inactive colour") << Change([](WaveformView &v) { v.setInactiveColor(Qt::white); }) << true;
    QTest::newRow("height") << Change([](WaveformView &v) { v.setHeight(40); }) << true;
}

void WaveformViewTest::repaintsOnlyOnChange()
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
    ViewHarness harness({200, 100});
    QQuickItem *item = harness.load(R"(import QtQuick
import Quorvel
WaveformView {
    width: 200; height: 100
    samples: [0.5]
    progress: 0.5
    barWidth: 10; spacing: 10
    activeColors: ["#ff0000", "#0000ff"]
    inactiveColor: "#00ff00"
})");
    QVERIFY(item);
    auto *view = qobject_cast<WaveformView *>(item);
    QVERIFY(view);

    const QImage image = harness.grab();
    ViewHarness::save(image, QStringLiteral("waveform-pixels.png"));
    const int played = 30; // centre of bar 1
    const int unplayed = 150; // centre of bar 7
    // The gradient spans the canvas, red at its bottom edge and blue at its top.
    QVERIFY2(closeColors(image.pixelColor(played, 92), QColor(235, 0, 20), 8), qPrintable(image.pixelColor(played, 92).name()));
    QVERIFY2(closeColors(image.pixelColor(played, 50), QColor(128, 0, 127), 8), qPrintable(image.pixelColor(played, 50).name()));
    QVERIFY2(closeColors(image.pixelColor(played, 8), QColor(20, 0, 235), 8), qPrintable(image.pixelColor(played, 8).name()));
    for (int y : {8, 50, 92})
        QVERIFY(closeColors(image.pixelColor(unplayed, y), QColor(0, 255, 0)));
    QVERIFY(closeColors(image.pixelColor(20, 50), Qt::black)); // the gap between bars 0 and 1
    QVERIFY(closeColors(image.pixelColor(played, 2), Qt::black)); // above a 92 % bar

    view->setProgress(1);
    QTRY_VERIFY(closeColors(harness.grab().pixelColor(unplayed, 50), QColor(128, 0, 127), 8));
}

QTEST_MAIN(WaveformViewTest)
#include "tst_views_waveformview.moc"
