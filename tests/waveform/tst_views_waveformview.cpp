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
    void laysOutBars_data();
    void laysOutBars();
    void repaintsOnlyOnAVisibleChange_data();
    void repaintsOnlyOnAVisibleChange();
    void drawsPlayedBarsInGradient();
};

void WaveformViewTest::resamples_data()
{
    QTest::addColumn<QList<double>>("samples");
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<double>>("values");

    QTest::newRow("silence") << QList<double>(50, 0.0) << 4 << QList<double>(4, 0.0);
    QTest::newRow("one sample fills every bar") << QList<double>{0.02} << 5 << QList<double>(5, 1.0);
    // Seven samples into three bars: 0...1, 2...3, 4...6.
    const double q = 0.2, l = 0.8;
    QTest::newRow("loud sample opens bar 1") << QList<double>{q, q, l, q, q, q, q} << 3
                                             << QList<double>{0.25, 1.0, 0.25};
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
        QVERIFY2(qAbs(seen[i] - values[i]) < 1e-12, qPrintable(QString::number(i)));
}

// However many bars fit, they are centred: the margins left and right match;
// the bars played are those whose centre the progress reached, a prefix.
void WaveformViewTest::laysOutBars_data()
{
    QTest::addColumn<QSizeF>("size");
    QTest::addColumn<double>("barWidth");
    QTest::addColumn<double>("spacing");
    QTest::addColumn<double>("progress");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("drawnWidth");
    QTest::addColumn<int>("active");

    // Bar centres of a track row (28 bars on 112 points) sit at 2, 6, 10, ... 110.
    const QSizeF row(112, 28);
    QTest::newRow("exactly at a centre") << row << 1.5 << 2.5 << 54.0 / 112 << 28 << 1.5 << 14;
    QTest::newRow("just before a centre") << row << 1.5 << 2.5 << 53.9 / 112 << 28 << 1.5 << 13;
    QTest::newRow("negative progress") << row << 1.5 << 2.5 << -0.5 << 28 << 1.5 << 0;
    QTest::newRow("beyond the end") << row << 1.5 << 2.5 << 3.0 << 28 << 1.5 << 28;
    QTest::newRow("progress not a number") << row << 1.5 << 2.5 << std::nan("") << 28 << 1.5 << 0;
    QTest::newRow("thin bars drawn 1 wide") << QSizeF(10, 10) << 0.2 << 1.0 << 0.0 << 5 << 1.0 << 0;
    QTest::newRow("negative spacing is none") << QSizeF(10, 10) << 2.0 << -4.0 << 0.0 << 5 << 2.0 << 0;
    QTest::newRow("narrower than a bar") << QSizeF(3, 10) << 8.0 << 2.0 << 0.0 << 1 << 8.0 << 0;
    QTest::newRow("no width") << QSizeF(0, 10) << 2.0 << 2.0 << 0.0 << 0 << 0.0 << 0;
}

void WaveformViewTest::laysOutBars()
{
    QFETCH(QSizeF, size);
    QFETCH(double, barWidth);
    QFETCH(double, spacing);
    QFETCH(double, progress);
    QFETCH(int, count);
    QFETCH(double, drawnWidth);
    QFETCH(int, active);

    const WaveformGeometry g = WaveformView::layout(QList<double>(300, 0.4), size, progress, barWidth, spacing);
    QCOMPARE(g.bars.size(), count);
    for (int i = 0; i < g.bars.size(); ++i)
        QCOMPARE(g.bars[i].active, i < active);
    if (count == 0)
        return;
    QCOMPARE(g.bars.first().rect.width(), drawnWidth);
    const double left = g.bars.first().rect.left();
    const double right = size.width() - g.bars.last().rect.right();
    QVERIFY(left >= 0);
    QVERIFY2(count == 1 || qAbs(left - right) < 1e-9, qPrintable(QStringLiteral("%1 / %2").arg(left).arg(right)));
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
    QImage image(200, 100, QImage::Format_RGB32);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        view.paint(&painter);
    }
    const auto near = [](const QColor &a, const QColor &b) {
        return qAbs(a.red() - b.red()) <= 8 && qAbs(a.green() - b.green()) <= 8 && qAbs(a.blue() - b.blue()) <= 8;
    };

    const int played = 30; // centre of bar 1
    const int unplayed = 150; // centre of bar 7
    // The gradient spans the canvas, red at its bottom edge and blue at its top.
    QVERIFY2(near(image.pixelColor(played, 92), QColor(235, 0, 20)), qPrintable(image.pixelColor(played, 92).name()));
    QVERIFY2(near(image.pixelColor(played, 8), QColor(20, 0, 235)), qPrintable(image.pixelColor(played, 8).name()));
    QVERIFY(near(image.pixelColor(unplayed, 50), Qt::green));
    QVERIFY(near(image.pixelColor(20, 50), Qt::black)); // the gap between bars 0 and 1
}

QTEST_MAIN(WaveformViewTest)
#include "tst_views_waveformview.moc"
