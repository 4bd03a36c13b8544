// What the queue's views are given: the track list model's rows, and the
// now-playing panel while a track loads.
#include "QueueRig.h"

#include "NowPlaying.h"
#include "TrackListModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

class QueueViewsTest : public QObject
{
    Q_OBJECT

private slots:
    void trackListRowsChangeOneAtATime();
    void thePanelTellsALoadFromTheTrackBefore();
};

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

// While a track loads the engine is stopped and still holds the previous
// track's length: the panel shows neither the Play symbol nor that length.
void QueueViewsTest::thePanelTellsALoadFromTheTrackBefore()
{
    QueueRig rig(LoadMode::Background);
    NowPlaying panel(rig.queue, rig.transport, rig.player, rig.waveforms, {});
    QSignalSpy changes(&panel, &NowPlaying::playPauseChanged);
    rig.intake.loadPlaylist({rig.track("short.wav"), rig.track("next.wav"), rig.track("Café Noir.wav", 441000)});
    QVERIFY(rig.player.isLoading());
    QVERIFY(panel.isPlayPauseBusy());
    QCOMPARE(changes.count(), 1);
    QTRY_VERIFY(rig.player.isPlaying());
    QVERIFY(!panel.isPlayPauseBusy());
    QCOMPARE(panel.currentTrackDuration(), 0.1);

    rig.transport.playTrack(2, 0.0); // neither in memory nor being read ahead
    QVERIFY(rig.player.isLoading());
    QCOMPARE(rig.player.duration(), 0.1);
    QVERIFY(panel.currentTrackDuration() != 0.1);
    QVERIFY(panel.isPlayPauseBusy());
    QCOMPARE(panel.currentTrackTitle(), QStringLiteral("Café Noir.wav")); // not percent-encoded
    QCOMPARE(panel.trackPositionLabel(), "03 / 03");
    QTRY_VERIFY(rig.player.isPlaying());
    QCOMPARE(panel.currentTrackDuration(), 10.0);
    QCOMPARE(panel.playPauseIcon(), "pause-fill");
    changes.clear();
    rig.transport.togglePausePlayback();
    QCOMPARE(panel.playPauseIcon(), "play-fill");
    QCOMPARE(changes.count(), 1);
}

QTEST_GUILESS_MAIN(QueueViewsTest)
#include "tst_views_queue.moc"
