// The queue panel's texts, the list's height and fades, and the rule that
// tells a click on a waveform from a drag.
#include "waveform/TrackListLabels.h"

#include <QTest>

#include <limits>

class TrackListLabelsTest : public QObject
{
    Q_OBJECT

private slots:
    void labelsDuration_data();
    void labelsDuration();
    void countsTracks_data();
    void countsTracks();
    void measuresContent_data();
    void measuresContent();
    void numbersRows_data();
    void numbersRows();
    void fadesEdges_data();
    void fadesEdges();
    void tellsClickFromDrag_data();
    void tellsClickFromDrag();
};

void TrackListLabelsTest::labelsDuration_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");

    QTest::newRow("unknown") << 0.0 << "--:--";
    QTest::newRow("negative") << -1.0 << "--:--";
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "--:--";
    QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << "--:--";
    QTest::newRow("under a second") << 0.5 << "00:00";
    QTest::newRow("rounds down") << 59.99 << "00:59";
    QTest::newRow("minutes not wrapped at an hour") << 4500.0 << "75:00";
}

void TrackListLabelsTest::labelsDuration()
{
    QFETCH(double, seconds);
    QFETCH(QString, text);
    QCOMPARE(durationLabel(seconds), text);
}

void TrackListLabelsTest::countsTracks_data()
{
    QTest::addColumn<qint64>("count");
    QTest::addColumn<QString>("text");

    QTest::newRow("none") << qint64(0) << "0 tracks";
    QTest::newRow("one") << qint64(1) << "1 track";
    QTest::newRow("two") << qint64(2) << "2 tracks";
    QTest::newRow("many") << qint64(10000) << "10000 tracks";
}

void TrackListLabelsTest::countsTracks()
{
    QFETCH(qint64, count);
    QFETCH(QString, text);
    QCOMPARE(trackCountLabel(count), text);
}

void TrackListLabelsTest::measuresContent_data()
{
    QTest::addColumn<qint64>("count");
    QTest::addColumn<double>("height");

    QTest::newRow("empty") << qint64(0) << 0.0;
    QTest::newRow("one row") << qint64(1) << 58.0;
    QTest::newRow("ten rows") << qint64(10) << 580.0;
    QTest::newRow("eleven rows") << qint64(11) << 638.0;
    QTest::newRow("ten thousand") << qint64(10000) << 580000.0;
}

void TrackListLabelsTest::measuresContent()
{
    QFETCH(qint64, count);
    QFETCH(double, height);
    QCOMPARE(trackListContentHeight(count), height);
}

void TrackListLabelsTest::numbersRows_data()
{
    QTest::addColumn<qint64>("number");
    QTest::addColumn<QString>("text");

    QTest::newRow("first") << qint64(1) << "01";
    QTest::newRow("two digits") << qint64(42) << "42";
    QTest::newRow("past 99") << qint64(100) << "100";
}

void TrackListLabelsTest::numbersRows()
{
    QFETCH(qint64, number);
    QFETCH(QString, text);
    QCOMPARE(trackNumberLabel(number), text);
}

void TrackListLabelsTest::fadesEdges_data()
{
    QTest::addColumn<qint64>("rows");
    QTest::addColumn<double>("viewport");
    QTest::addColumn<double>("offset");
    QTest::addColumn<TrackListFade>("fade");

    const TrackListFade none;
    QTest::newRow("10 rows fit 600") << qint64(10) << 600.0 << 0.0 << none;
    QTest::newRow("one point of slack") << qint64(10) << 579.0 << 0.0 << none;
    QTest::newRow("11 rows at the top") << qint64(11) << 600.0 << 0.0 << TrackListFade{true, false, true};
    QTest::newRow("offset 2 is still the top") << qint64(11) << 600.0 << 2.0 << TrackListFade{true, false, true};
    QTest::newRow("11 rows at 3") << qint64(11) << 600.0 << 3.0 << TrackListFade{true, true, true};
    QTest::newRow("11 rows at 36") << qint64(11) << 600.0 << 36.0 << TrackListFade{true, true, false};
    QTest::newRow("11 rows just above 36") << qint64(11) << 600.0 << 35.9 << TrackListFade{true, true, true};
    QTest::newRow("negative viewport counts as 0") << qint64(1) << -20.0 << 0.0 << TrackListFade{true, false, true};
}

void TrackListLabelsTest::fadesEdges()
{
    QFETCH(qint64, rows);
    QFETCH(double, viewport);
    QFETCH(double, offset);
    QFETCH(TrackListFade, fade);

    const TrackListFade seen = fadeFor(trackListContentHeight(rows), viewport, offset);
    QCOMPARE(seen.hasOverlay, fade.hasOverlay);
    QCOMPARE(seen.showTop, fade.showTop);
    QCOMPARE(seen.showBottom, fade.showBottom);
}

void TrackListLabelsTest::tellsClickFromDrag_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<QPointF>("press");
    QTest::addColumn<QPointF>("release");
    QTest::addColumn<std::optional<double>>("fraction");

    using F = std::optional<double>;
    QTest::newRow("middle of a row's waveform") << 112.0 << QPointF(56, 14) << QPointF(56, 14) << F(0.5);
    QTest::newRow("right edge") << 112.0 << QPointF(112, 14) << QPointF(112, 14) << F(1.0);
    QTest::newRow("far left") << 112.0 << QPointF(0, 14) << QPointF(0, 14) << F(0.0);
    QTest::newRow("moved 3 right") << 112.0 << QPointF(50, 14) << QPointF(53, 14) << F(53.0 / 112);
    QTest::newRow("moved 3 up") << 112.0 << QPointF(56, 14) << QPointF(56, 11) << F(0.5);
    QTest::newRow("moved 3.5 right") << 112.0 << QPointF(50, 14) << QPointF(53.5, 14) << F();
    QTest::newRow("moved 3.5 left") << 112.0 << QPointF(50, 14) << QPointF(46.5, 14) << F();
    QTest::newRow("moved 3.5 down") << 112.0 << QPointF(56, 10) << QPointF(56, 13.5) << F();
    QTest::newRow("released past the edge") << 112.0 << QPointF(111, 4) << QPointF(113, 4) << F(1.0);
    QTest::newRow("released before the edge") << 112.0 << QPointF(1, 4) << QPointF(-2, 4) << F(0.0);
    QTest::newRow("no width") << 0.0 << QPointF(0, 0) << QPointF(0, 0) << F();
}

void TrackListLabelsTest::tellsClickFromDrag()
{
    QFETCH(double, width);
    QFETCH(QPointF, press);
    QFETCH(QPointF, release);
    QFETCH(std::optional<double>, fraction);
    QCOMPARE(clickFraction(width, press, release), fraction);
}

QTEST_APPLESS_MAIN(TrackListLabelsTest)
#include "tst_views_tracklistlabels.moc"
