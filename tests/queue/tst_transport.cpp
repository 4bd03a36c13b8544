// The transport as a listener uses it: tracks played to their end one after
// another, the commands in every state, and the wall-clock progress, as the
// now-playing panel and the track list's rows show them.
#include "NowPlaying.h"
#include "QueueRig.h"
#include "TrackListModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>
#include <cmath>

class TransportTest : public QObject
{
    Q_OBJECT

private slots:
    void threeTracksPlayThroughInOrder();
    void indicesAndFractionsOutOfRange();
    void aFailedStartLeavesTheQueueOnIt_data();
    void aFailedStartLeavesTheQueueOnIt();
    void aLoadOrAPauseIsNeitherProgressNorTheEnd();
    void racesAtTheEndOfATrack_data();
    void racesAtTheEndOfATrack();
    void aDeviceComesWhileATrackLoadsAndGoesWhileItPlays();
    void trackListRowsChangeOneAtATime();
};

// Same-format tracks reach the device as one stream, each read ahead while
// the one before plays, and the queue follows each move once.
void TransportTest::threeTracksPlayThroughInOrder()
{
    QueueRig rig;
    const QList<QUrl> tracks = rig.threeTracks();
    QSignalSpy moves(&rig.queue, &PlayQueue::currentIndexChanged);
    rig.intake.loadPlaylist(tracks);
    QVERIFY(rig.player.isPlaying());
    QCOMPARE(rig.player.preloadedURL(), tracks.at(1));
    moves.clear();
    for (qint64 written = 0; written >= 0; written = rig.platform.renderStep(1000)) {
        rig.clock.advance(1000 / 44100.0);
        QCoreApplication::processEvents(); // the GUI thread hears of each move
        rig.transport.tick();
    }
    QTRY_VERIFY(!rig.player.isPlaying());
    QCoreApplication::processEvents(); // let a wrongly repeated move show itself
    QCOMPARE(moves.count(), 2);
    QCOMPARE(rig.queue.currentIndex(), 2);
    QCOMPARE(rig.platform.events().filter("open").size(), 1);

    rig.transport.togglePausePlayback(); // Play after the end restarts the last track
    QVERIFY(rig.player.isPlaying());
    QCOMPARE(rig.queue.currentIndex(), 2);
    QCOMPARE(rig.transport.playbackProgress(), 0.0);
}

void TransportTest::indicesAndFractionsOutOfRange()
{
    QueueRig rig;
    rig.intake.loadPlaylist({rig.track("1.wav"), rig.track("2.wav")});
    rig.platform.clearEvents();
    rig.transport.playTrack(2, 0.0);
    rig.transport.playTrack(-1, 0.0);
    QCOMPARE(rig.queue.currentIndex(), 0);
    QVERIFY(rig.platform.events().isEmpty());

    rig.transport.playTrack(1, 1.5); // the frames either lands on are tst_engine_player's
    QCOMPARE(rig.transport.playbackProgress(), 1.0);
    rig.transport.playTrack(1, std::nan(""));
    QCOMPARE(rig.transport.playbackProgress(), 0.0);
    rig.clock.advance(10.0); // the wall clock runs on past the end before the end is heard
    rig.transport.tick();
    QCOMPARE(rig.transport.playbackProgress(), 1.0);
}

// A failed start, while another track plays or from idle, leaves the queue
// on that track with its reason shown; Play or a click tries it again.
void TransportTest::aFailedStartLeavesTheQueueOnIt_data()
{
    QTest::addColumn<LoadMode>("mode");
    QTest::addColumn<bool>("damaged"); // else a rate the device does not run at
    QTest::addColumn<bool>("whilePlaying");
    QTest::addColumn<QString>("reason");
    const auto inl = LoadMode::Inline, bg = LoadMode::Background;
    const QString damaged = "The file is damaged", rate = "Could not open DAC: does not play 192000 Hz";
    QTest::newRow("damaged file while playing") << inl << true << true << damaged;
    QTest::newRow("damaged file while playing, loaded in the background") << bg << true << true << damaged;
    QTest::newRow("refused rate while playing") << bg << false << true << rate;
    QTest::newRow("damaged file from idle") << inl << true << false << damaged;
    QTest::newRow("refused rate from idle") << inl << false << false << rate;
}

void TransportTest::aFailedStartLeavesTheQueueOnIt()
{
    QFETCH(LoadMode, mode);
    QFETCH(bool, damaged);
    QFETCH(bool, whilePlaying);
    QFETCH(QString, reason);
    QueueRig rig(mode);
    rig.platform.addDevice({2, QStringLiteral("DAC"), true, {44100.0, 96000.0}});
    rig.player.setOutputDevice(2);
    const QUrl bad = damaged ? rig.brokenTrack("b.wav")
                             : testaudio::writeTrack(rig.dir->filePath("b.wav"), {.sampleRate = 192000});
    rig.intake.loadPlaylist({rig.track("a.wav", 441000), bad, rig.track("c.wav")});
    QTRY_VERIFY(rig.player.isPlaying());
    QCoreApplication::processEvents(); // the first track has been playing for a while
    if (!whilePlaying)
        rig.transport.stopPlayback();
    NowPlaying card(rig.queue, rig.transport, rig.player, rig.waveforms,
                    [&](quint32 id) { return deviceNameOf(rig.platform, id); });
    QSignalSpy reasons(&card, &NowPlaying::failureReasonChanged);
    for (const double click : {0.0, -1.0, 0.5}) { // a click at the start, Play, a click at the middle
        reasons.clear();
        click < 0 ? rig.transport.togglePausePlayback() : rig.transport.playTrack(1, click);
        QTRY_VERIFY(!rig.player.isLoading());
        QCoreApplication::processEvents(); // a wrong move to the next track would show itself
        QCoreApplication::processEvents();
        QCOMPARE(rig.queue.currentIndex(), 1);
        QVERIFY(!rig.player.isPlaying());
        QCOMPARE(rig.player.currentURL(), bad);
        QCOMPARE(card.failureReason(), reason);
        QCOMPARE(reasons.count(), click == 0.0 ? 1 : 2); // a retry clears it, then sets it again
    }
}

// A long load, or a pause, is neither progress nor the end of the track; Play
// while a load lasts would restart it. While a track loads the engine is
// stopped and still holds the previous track's length: the now-playing panel
// shows neither the Play symbol nor that length.
void TransportTest::aLoadOrAPauseIsNeitherProgressNorTheEnd()
{
    QueueRig rig(LoadMode::Background);
    NowPlaying panel(rig.queue, rig.transport, rig.player, rig.waveforms, {});
    QSignalSpy changes(&panel, &NowPlaying::playPauseChanged);
    const QUrl url = rig.track("Café Noir.wav", 441000), first = rig.track("first.wav");
    rig.intake.loadPlaylist({first, rig.track("next.wav"), url, rig.track("after.wav")});
    QVERIFY(panel.isPlayPauseBusy());
    QCOMPARE(changes.count(), 1);
    QTRY_VERIFY(rig.player.isPlaying());
    QVERIFY(!panel.isPlayPauseBusy());
    QCOMPARE(panel.currentTrackDuration(), 0.1);
    rig.transport.playTrack(2, 0.4); // neither in memory nor being read ahead
    QVERIFY(rig.player.isLoading());
    QVERIFY(rig.transport.canStop());
    QCOMPARE(rig.player.duration(), 0.1);
    QVERIFY(panel.currentTrackDuration() != 0.1);
    QVERIFY(panel.isPlayPauseBusy());
    QCOMPARE(panel.currentTrackTitle(), QStringLiteral("Café Noir.wav")); // not percent-encoded
    QCOMPARE(panel.trackPositionLabel(), "03 / 04");
    rig.transport.togglePausePlayback();
    rig.clock.advance(3.0);
    rig.transport.tick();
    QCOMPARE(rig.transport.playbackProgress(), 0.4);

    QTRY_VERIFY(rig.transport.playbackStart());
    QCoreApplication::processEvents();
    QCOMPARE(rig.queue.currentIndex(), 2);
    rig.clock.advance(1.0);
    rig.transport.tick();
    QVERIFY(qAbs(rig.transport.playbackProgress() - 0.5) < 1e-9);
    QCOMPARE(rig.platform.renderStep(1), 1);
    QCOMPARE(rig.platform.captured(1).right(4), rig.dataOf(url).mid(176400 * 4, 4));
    QCOMPARE(panel.currentTrackDuration(), 10.0);
    QCOMPARE(panel.playPauseIcon(), "pause-fill");
    changes.clear();
    rig.transport.togglePausePlayback();
    QVERIFY(rig.player.isPaused());
    QCOMPARE(panel.playPauseIcon(), "play-fill");
    QCOMPARE(changes.count(), 1);
    rig.clock.advance(60.0);
    rig.transport.tick();
    QCoreApplication::processEvents();
    QVERIFY(qAbs(rig.transport.playbackProgress() - 0.5) < 1e-9);
    QCOMPARE(rig.queue.currentIndex(), 2);
    rig.transport.togglePausePlayback();
    QVERIFY(rig.player.isPlaying());
    rig.clock.advance(1.0);
    rig.transport.tick();
    QVERIFY(qAbs(rig.transport.playbackProgress() - 0.6) < 1e-9);

    rig.transport.playTrack(0, 0.5);
    QVERIFY(rig.player.isLoading());
    rig.transport.stopPlayback(); // no end of the track: the queue stays
    QVERIFY(!rig.player.isLoading());
    QVERIFY(!rig.transport.canStop());
    QCOMPARE(rig.transport.playbackProgress(), 0.0);
    rig.transport.togglePausePlayback(); // Play after a stop: the same track from its start
    QTRY_VERIFY(rig.player.isPlaying());
    QCOMPARE(rig.queue.currentIndex(), 0);
    QCOMPARE(rig.player.currentFrame(), 0);
}

// The track played out but the GUI thread has not heard yet when the user
// acts: the command wins, and the end moves nothing.
void TransportTest::racesAtTheEndOfATrack_data()
{
    QTest::addColumn<bool>("next"); // Next pressed, else a click at the middle of the ended track
    QTest::newRow("Next pressed") << true;
    QTest::newRow("seek into the ended track") << false;
}

void TransportTest::racesAtTheEndOfATrack()
{
    QFETCH(bool, next);
    QueueRig rig;
    const QList<QUrl> tracks = rig.threeTracks();
    rig.intake.loadPlaylist(tracks);
    rig.player.preloadNext({}); // nothing to go on into: the stream ends
    QCOMPARE(rig.platform.renderToEnd(), 4410);
    if (next)
        rig.transport.next();
    else
        rig.transport.playTrack(0, 0.5);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    const qint64 index = next ? 1 : 0;
    QCOMPARE(rig.queue.currentIndex(), index);
    QVERIFY(rig.player.isPlaying());
    rig.platform.clearCaptured();
    QCOMPARE(rig.platform.renderStep(100), 100);
    QCOMPARE(rig.platform.captured(1), rig.dataOf(tracks[index]).mid(next ? 0 : 2205 * 4, 400));
}

// A device plugged in and chosen while a track loads plays it. With no other
// device, a vanished one stops the track where it is (the player's state after
// it: tst_engine_alsa), and that is no end.
void TransportTest::aDeviceComesWhileATrackLoadsAndGoesWhileItPlays()
{
    QueueRig rig(LoadMode::Background);
    const QUrl url = rig.track("long.wav", 441000);
    rig.intake.loadPlaylist({url, rig.track("2.wav"), rig.track("3.wav")});
    QVERIFY(rig.player.isLoading());
    rig.platform.addDevice({2, QStringLiteral("DAC")});
    rig.player.setOutputDevice(2);
    QTRY_VERIFY(rig.player.isPlaying());
    QCOMPARE(rig.player.deviceId(), 2u);
    QCOMPARE(rig.platform.renderStep(512), 512);
    QCOMPARE(rig.platform.captured(2), rig.dataOf(url).left(512 * 4));
    rig.platform.removeDevice(2);
    QTRY_VERIFY(!rig.player.isPlaying());
    QCoreApplication::processEvents();
    QCOMPARE(rig.queue.currentIndex(), 0);
    QVERIFY(!rig.transport.isNeedToPlayNext());
}

// Every row is its own queue position, so a URL queued twice is two rows;
// the 20 Hz progress touches the current row only.
void TransportTest::trackListRowsChangeOneAtATime()
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

QTEST_GUILESS_MAIN(TransportTest)
#include "tst_transport.moc"
