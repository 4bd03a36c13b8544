// WaveformView: the resampling, and that it repaints only what changed.
#include "WaveformView.h"

#include <QPainter>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

namespace {
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

class WaveformViewTest : public QObject
{
    Q_OBJECT

private slots:
    void resamplesToTheLoudestOfEachBar();
    void repaintsOnlyWhenABarTurnsPlayed();
};

void WaveformViewTest::resamplesToTheLoudestOfEachBar()
{
    // Seven samples into three bars (0...1, 2...3, 4...6), each bar its
    // loudest sample over the loudest of all.
    QCOMPARE(WaveformView::resampledSamples({0.25, 0.25, 1.0, 0.25, 0.25, 0.25, 0.25}, 3),
             (QList<double>{0.25, 1.0, 0.25}));
    // Fewer samples than bars: each sample stands for several.
    QCOMPARE(WaveformView::resampledSamples({0.5, 1.0}, 5), (QList<double>{0.5, 0.5, 0.5, 1.0, 1.0}));
}

// A frame costs the whole window under software rendering, and progress moves
// twenty times a second: only a bar turning played may repaint.
void WaveformViewTest::repaintsOnlyWhenABarTurnsPlayed()
{
    QQuickWindow window;
    window.resize(120, 60);
    CountingWaveformView view;
    view.setParentItem(window.contentItem());
    // 100 points, bars 2 wide and 1 apart: 33 bars with centres at 2, 5, 8,
    // ... 50, 53, ...: at 0.5 progress 17 are played, the 18th at 0.53.
    view.setSize({100, 30});
    view.setSamples({0.2, 0.4});
    view.setProgress(0.5);
    view.setBarWidth(2);
    view.setSpacing(1);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(view.paints > 0);
    // Another frame is rendered either way, so an unchanged view has its chance to repaint.
    const auto paintsInAFrame = [&] {
        const int before = view.paints;
        QSignalSpy frames(&window, &QQuickWindow::frameSwapped);
        window.update();
        return frames.wait() ? view.paints - before : -1;
    };
    view.setProgress(0.52);
    QCOMPARE(paintsInAFrame(), 0);
    view.setProgress(0.54);
    QCOMPARE(paintsInAFrame(), 1);
}

QTEST_MAIN(WaveformViewTest)
#include "tst_views_waveformview.moc"
