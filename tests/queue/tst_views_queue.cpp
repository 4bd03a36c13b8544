// What the queue's views show: the texts with a rule in them, the track list's
// fades and centring, the click rule of the waveforms, the track list model,
// the Play/Pause button while a track loads, and which drags are drop targets.
#include "QueueRig.h"

#include "NowPlaying.h"
#include "TrackListLabels.h"
#include "TrackListModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <limits>

class QueueViewsTest : public QObject
{
    Q_OBJECT

private slots:
    void formatsTimes_data();
    void formatsTimes();
    void fadesAndCentres_data();
    void fadesAndCentres();
    void tellsClickFromDrag_data();
    void tellsClickFromDrag();
    void panelTextsFollowTheQueue();
    void trackListRowsChangeOneAtATime();
    void playPauseShowsLoadingUntilTheSoundStarts();
    void onlyDragsOfFilesAreDropTargets_data();
    void onlyDragsOfFilesAreDropTargets();
};

void QueueViewsTest::formatsTimes_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("time");     // elapsed and total on the now-playing panel
    QTest::addColumn<QString>("duration"); // a row's duration

    constexpr double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("unknown") << 0.0 << "00:00" << "--:--";
    QTest::newRow("under a second") << 0.4 << "00:00" << "00:00";
    QTest::newRow("rounds down") << 59.99 << "00:59" << "00:59";
    QTest::newRow("no hours field") << 4500.0 << "75:00" << "75:00";
    QTest::newRow("negative") << -5.0 << "00:00" << "--:--";
    QTest::newRow("infinite") << inf << "00:00" << "--:--";
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "00:00" << "--:--";
    QTest::newRow("absurdly long stays defined") << 1e300 << "16666666666666:40" << "16666666666666:40";
}

void QueueViewsTest::formatsTimes()
{
    QFETCH(double, seconds);
    QFETCH(QString, time);
    QFETCH(QString, duration);
    QCOMPARE(formatTime(seconds), time);
    QCOMPARE(durationLabel(seconds), duration);
}

void QueueViewsTest::fadesAndCentres_data()
{
    QTest::addColumn<qint64>("rows");
    QTest::addColumn<double>("viewport");
    QTest::addColumn<double>("offset");
    QTest::addColumn<TrackListFade>("fade");

    QTest::newRow("one point of slack") << qint64(10) << 579.0 << 0.0 << TrackListFade{};
    QTest::newRow("offset 2 is still the top") << qint64(11) << 600.0 << 2.0 << TrackListFade{false, true};
    QTest::newRow("11 rows at 3") << qint64(11) << 600.0 << 3.0 << TrackListFade{true, true};
    QTest::newRow("11 rows just above 36") << qint64(11) << 600.0 << 35.9 << TrackListFade{true, true};
    QTest::newRow("11 rows at 36") << qint64(11) << 600.0 << 36.0 << TrackListFade{true, false};
    QTest::newRow("negative viewport counts as 0") << qint64(1) << -20.0 << 0.0 << TrackListFade{false, true};
}

void QueueViewsTest::fadesAndCentres()
{
    QFETCH(qint64, rows);
    QFETCH(double, viewport);
    QFETCH(double, offset);
    QFETCH(TrackListFade, fade);

    QCOMPARE(fadeFor(trackListContentHeight(rows), viewport, offset), fade);
    // Centring the first or the last row stops at the content's ends.
    if (viewport >= trackRowHeight) {
        QCOMPARE(centredScrollOffset(0, rows, viewport), 0.0);
        QCOMPARE(centredScrollOffset(rows - 1, rows, viewport), std::max(trackListContentHeight(rows) - viewport, 0.0));
    }
}

void QueueViewsTest::tellsClickFromDrag_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<QPointF>("press");
    QTest::addColumn<QPointF>("release");
    QTest::addColumn<std::optional<double>>("fraction");

    using F = std::optional<double>;
    QTest::newRow("middle of a row's waveform") << 112.0 << QPointF(56, 14) << QPointF(56, 14) << F(0.5);
    QTest::newRow("moved 3 right") << 112.0 << QPointF(50, 14) << QPointF(53, 14) << F(53.0 / 112);
    QTest::newRow("moved 3 up") << 112.0 << QPointF(56, 14) << QPointF(56, 11) << F(0.5);
    QTest::newRow("moved 3.5 left") << 112.0 << QPointF(50, 14) << QPointF(46.5, 14) << F();
    QTest::newRow("moved 3.5 down") << 112.0 << QPointF(56, 10) << QPointF(56, 13.5) << F();
    QTest::newRow("released past the edge") << 112.0 << QPointF(111, 4) << QPointF(113, 4) << F(1.0);
    QTest::newRow("released before the edge") << 112.0 << QPointF(1, 4) << QPointF(-2, 4) << F(0.0);
    QTest::newRow("no width") << 0.0 << QPointF(0, 0) << QPointF(0, 0) << F();
}

void QueueViewsTest::tellsClickFromDrag()
{
    QFETCH(double, width);
    QFETCH(QPointF, press);
    QFETCH(QPointF, release);
    QFETCH(std::optional<double>, fraction);
    QCOMPARE(clickFraction(width, press, release), fraction);
}

void QueueViewsTest::panelTextsFollowTheQueue()
{
    QueueRig rig;
    NowPlaying panel(rig.queue, rig.transport, rig.player, rig.waveforms);
    QCOMPARE(panel.currentTrackTitle(), "No track selected");
    QCOMPARE(panel.trackPositionLabel(), "-- / --");

    const QUrl accented = rig.track(QStringLiteral("Café Noir.wav"));
    rig.intake.loadPlaylist({rig.track("a.wav"), accented, rig.track("c.wav")});
    rig.transport.playTrack(1, 0.0);
    QCOMPARE(panel.currentTrackTitle(), QStringLiteral("Café Noir.wav")); // not percent-encoded
    QCOMPARE(panel.trackPositionLabel(), "02 / 03");
    QCOMPARE(panel.trackCountLabel(), "3 tracks");
}

// Every row is its own queue position, so a URL queued twice is two rows;
// the 20 Hz progress touches the current row only.
void QueueViewsTest::trackListRowsChangeOneAtATime()
{
    QueueRig rig;
    TrackListModel model(rig.queue, rig.transport, rig.waveforms);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const QUrl twice = rig.track("twice.wav", 44100);
    rig.intake.loadPlaylist({twice, rig.track("once.wav", 44100), twice});
    QCOMPARE(model.rowCount(), 3);
    const auto data = [&](int row, int role) { return model.data(model.index(row), role); };
    QTRY_COMPARE(data(2, TrackListModel::DurationLabelRole).toString(), "00:01");
    QCOMPARE(data(0, TrackListModel::DurationLabelRole).toString(), "00:01");
    QVERIFY(!data(0, TrackListModel::SamplesRole).value<QList<double>>().isEmpty());

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    rig.clock.advance(0.5);
    rig.transport.tick();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().at(0).toModelIndex().row(), 0);
    QCOMPARE(changed.first().at(1).toModelIndex().row(), 0);
    QCOMPARE(data(0, TrackListModel::ProgressRole).toDouble(), 0.5);
    QCOMPARE(data(2, TrackListModel::ProgressRole).toDouble(), 0.0);

    changed.clear();
    rig.transport.playTrack(2, 0.25);
    QVERIFY(data(2, TrackListModel::IsCurrentRole).toBool());
    QVERIFY(!data(0, TrackListModel::IsCurrentRole).toBool());
    QCOMPARE(data(0, TrackListModel::ProgressRole).toDouble(), 0.0);
    QCOMPARE(data(2, TrackListModel::ProgressRole).toDouble(), 0.25);
    for (const QList<QVariant> &signal : std::as_const(changed))
        QVERIFY(signal.at(0).toModelIndex().row() != 1);

    rig.intake.loadPlaylist({rig.track("other.wav")});
    QCOMPARE(model.rowCount(), 1);
}

// While the first track loads, the output is stopped and the engine still
// holds the last rate it played (none here): neither the Play symbol nor that
// rate would be true.
void QueueViewsTest::playPauseShowsLoadingUntilTheSoundStarts()
{
    QueueRig rig(BitPerfectAudioPlayer::LoadMode::Background);
    NowPlaying panel(rig.queue, rig.transport, rig.player, rig.waveforms);
    QCOMPARE(panel.playPauseIcon(), "play-fill");
    QSignalSpy changes(&panel, &NowPlaying::playPauseChanged);

    rig.intake.loadPlaylist({rig.track("long.wav", 441000)});
    QVERIFY(rig.player.isLoading());
    QVERIFY(panel.isPlayPauseBusy());
    QCOMPARE(panel.playPauseHelpText(), "Loading");

    QTRY_VERIFY(rig.player.isPlaying());
    QVERIFY(!panel.isPlayPauseBusy());
    QCOMPARE(panel.playPauseIcon(), "pause-fill");
    QCOMPARE(panel.playPauseHelpText(), "Pause");
    rig.transport.togglePausePlayback();
    QCOMPARE(panel.playPauseIcon(), "play-fill");
    QCOMPARE(panel.playPauseHelpText(), "Play");
    QCOMPARE(changes.count(), 3);
}

void QueueViewsTest::onlyDragsOfFilesAreDropTargets_data()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<bool>("targeted");

    const QUrl file = QUrl::fromLocalFile("/music/a.flac");
    const QUrl web(QStringLiteral("https://example.org/a.flac"));
    QTest::newRow("a file") << QList<QUrl>{file} << true;
    QTest::newRow("a link, then a file") << QList<QUrl>{web, file} << true;
    QTest::newRow("text carries no URL") << QList<QUrl>{} << false;
    QTest::newRow("a web link") << QList<QUrl>{web} << false;
    QTest::newRow("a file URL without a path") << QList<QUrl>{QUrl(QStringLiteral("file:"))} << false;
}

void QueueViewsTest::onlyDragsOfFilesAreDropTargets()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(bool, targeted);

    QueueRig rig;
    rig.intake.dragEntered(urls);
    QCOMPARE(rig.intake.isDropTargeted(), targeted);
    rig.intake.handleDrop(urls);
    QVERIFY(!rig.intake.isDropTargeted());
}

QTEST_GUILESS_MAIN(QueueViewsTest)
#include "tst_views_queue.moc"
