// What the queue's list view is given: the track list model's rows (the
// now-playing panel while a track loads is in tst_transport).
#include "QueueRig.h"

#include "TrackListModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

class QueueViewsTest : public QObject
{
    Q_OBJECT

private slots:
    void trackListRowsChangeOneAtATime();
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

QTEST_GUILESS_MAIN(QueueViewsTest)
#include "tst_views_queue.moc"
