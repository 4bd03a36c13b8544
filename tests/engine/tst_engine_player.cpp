// The player against the simulated audio server, which renders step by step
// and captures every byte: where a start or a seek lands, a newer track or a
// stop overtaking a load, a destruction while a load runs, and what a failed
// start leaves behind.
#include "BitPerfectAudioPlayer.h"
#include "SimulatedAudioPlatform.h"
#include "TestAudio.h"

#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <functional>
#include <thread>
#include <QRegularExpression>

namespace {

constexpr quint32 kSpeakers = 1;
constexpr quint32 kMicrophone = 2;
constexpr quint32 kDac = 3;
constexpr int kBytesPerFrame = 4; // 16-bit stereo
constexpr int wav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

// Runs an action once, just before the first queued call reaches the player:
// the moment a finished load's result waits to be started.
class BeforeFirstQueuedCall : public QObject
{
public:
    BeforeFirstQueuedCall(QObject *target, std::function<void()> action)
        : m_action(std::move(action))
    {
        target->installEventFilter(this);
    }
    void runNow()
    {
        if (m_action)
            std::exchange(m_action, {})();
    }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MetaCall)
            runNow();
        return false;
    }

private:
    std::function<void()> m_action;
};

} // namespace

Q_DECLARE_METATYPE(FailureKind)

class PlayerTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startAndSeekLandOnTheirFrame_data();
    void startAndSeekLandOnTheirFrame();
    void aLoadIsOvertakenByALaterRequest_data();
    void aLoadIsOvertakenByALaterRequest();
    void failedPlayLeavesIdle_data();
    void failedPlayLeavesIdle();
    void aPausedTrackResumesOnTheDeviceSelectedNow_data();
    void aPausedTrackResumesOnTheDeviceSelectedNow();
    void theDeviceIsReadyWhenTheDecodeEnds_data();
    void theDeviceIsReadyWhenTheDecodeEnds();
    void aNewReadAheadLeavesTheTrackPlayingAlone();
    void destroyingThePlayerDuringALongLoad();

private:
    QUrl track(const QString &name, qint64 frames, int format = wav16);
    // Loads on the worker, or at once within the call that asks.
    void makePlayer(bool atOnce)
    {
        m_player = std::make_unique<BitPerfectAudioPlayer>(*m_platform, atOnce ? loadsAtOnce() : workerLoads());
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SimulatedAudioPlatform> m_platform;
    std::unique_ptr<BitPerfectAudioPlayer> m_player;
    quint32 m_seed = 0;
};

void PlayerTest::init()
{
    m_dir = testaudio::makeTempDir();
    m_platform = std::make_unique<SimulatedAudioPlatform>();
    m_platform->addDevice({kSpeakers, "Speakers"});
    m_platform->addDevice({kMicrophone, "Microphone", false});
    m_platform->addDevice({kDac, "DAC"});
    m_platform->setDefaultOutputDevice(kSpeakers);
    makePlayer(false);
}

void PlayerTest::cleanup()
{
    m_player.reset();
    m_platform.reset();
}

// Noise from a fresh seed: no two tracks share their bytes, so a capture
// tells which one reached the device.
QUrl PlayerTest::track(const QString &name, qint64 frames, int format)
{
    testaudio::Recipe recipe{format, 44100, 2, frames, testaudio::Signal::Noise};
    recipe.seed = ++m_seed;
    return testaudio::writeTrack(m_dir->filePath(name), recipe);
}

// A 4,410-frame track started at a fraction of it, then maybe sought while it
// loads or after 1,000 frames played; a seek out of range changes nothing.
void PlayerTest::startAndSeekLandOnTheirFrame_data()
{
    QTest::addColumn<bool>("atOnce");
    QTest::addColumn<double>("fraction");
    QTest::addColumn<QString>("seekWhile"); // "loading", "playing", "replaying" (from memory) or none
    QTest::addColumn<double>("seconds");
    QTest::addColumn<qint64>("frame");
    const bool bg = false, inl = true;
    QTest::newRow("middle") << bg << 0.5 << "" << 0.0 << qint64(2205);
    QTest::newRow("loaded inline, truncated toward zero") << inl << 0.33333 << "" << 0.0 << qint64(1469);
    QTest::newRow("beyond the end") << bg << 1.7 << "" << 0.0 << qint64(4410);
    QTest::newRow("NaN") << bg << std::nan("") << "" << 0.0 << qint64(0);
    QTest::newRow("loading: a seek replaces the fraction") << bg << 0.5 << "loading" << 0.025 << qint64(1102);
    QTest::newRow("loading: a seek past the end") << bg << 0.5 << "loading" << 0.2 << qint64(2205);
    QTest::newRow("playing: truncated toward zero") << inl << 0.0 << "playing" << 0.0123456 << qint64(544);
    QTest::newRow("playing: beyond the end") << inl << 0.0 << "playing" << 0.10001 << qint64(1000);
    QTest::newRow("replaying at a fraction") << inl << 0.0 << "replaying" << 0.75 << qint64(3307);
}

void PlayerTest::startAndSeekLandOnTheirFrame()
{
    QFETCH(bool, atOnce);
    QFETCH(double, fraction);
    QFETCH(QString, seekWhile);
    QFETCH(double, seconds);
    QFETCH(qint64, frame);
    makePlayer(atOnce);
    const QUrl url = track("t.wav", 4410);
    // Each track read from its file offers its frames once, while still
    // loading: the waveform takes them before the pool may decode the file.
    QList<bool> offers;
    connect(m_player.get(), &BitPerfectAudioPlayer::trackInMemory, m_player.get(),
            [&](const QUrl &offered, std::shared_ptr<const TrackBlock> block, StreamFormat, qint64 frames) {
                offers.append(m_player->isLoading() && offered == url && frames == 4410
                              && block->size() == std::size_t(4410 * kBytesPerFrame));
            });
    m_player->playBitPerfect(url, fraction);
    if (seekWhile == "loading")
        m_player->seek(seconds);
    QTRY_VERIFY(m_player->isPlaying());
    if (seekWhile == "playing" || seekWhile == "replaying") {
        QCOMPARE(m_platform->renderStep(1000), 1000);
        m_platform->clearCaptured();
        if (seekWhile == "playing")
            m_player->seek(seconds);
        else
            m_player->playBitPerfect(url, seconds);
    }
    QCOMPARE(m_player->currentFrame(), frame);
    QCOMPARE(offers, QList<bool>{true});
    QCOMPARE(m_platform->events().filter("open").size(), 1);
    QCOMPARE(m_platform->renderToEnd(), 4410 - frame);
    const QByteArray rest = testaudio::rawData(url.toLocalFile()).mid(frame * kBytesPerFrame);
    QCOMPARE(m_platform->captured(kSpeakers).left(rest.size()), rest);
}

// A newer track, or a stop and then a newer track, while the older one loads:
// the older one may still wait for the worker, or be loaded with its start
// already on its way to the GUI thread; either way it never reaches a device.
// The worker loads one track at a time, in order, so once the newer track
// plays the older one's result has come and gone.
void PlayerTest::aLoadIsOvertakenByALaterRequest_data()
{
    QTest::addColumn<bool>("stop");
    QTest::addColumn<bool>("olderLoaded");
    QTest::newRow("newer, back to back") << false << false;
    QTest::newRow("newer, the older one loaded") << false << true;
    QTest::newRow("stop at once") << true << false;
    QTest::newRow("stop, the older one loaded") << true << true;
}

void PlayerTest::aLoadIsOvertakenByALaterRequest()
{
    QFETCH(bool, stop);
    QFETCH(bool, olderLoaded);
    const QUrl older = track("older.flac", 441, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    const QUrl newer = track("newer.wav", 4410);
    QSignalSpy started(m_player.get(), &BitPerfectAudioPlayer::started);
    QSignalSpy duration(m_player.get(), &BitPerfectAudioPlayer::durationChanged);
    m_player->playBitPerfect(older);
    QVERIFY(m_player->isLoading());
    BeforeFirstQueuedCall overtake(m_player->findChild<TrackLoadWorker *>(), [&] {
        if (stop)
            m_player->stop();
        else
            m_player->playBitPerfect(newer);
    });
    if (!olderLoaded)
        overtake.runNow();
    if (stop) {
        QTRY_VERIFY(!m_player->isLoading());
        QVERIFY(!m_player->isPlaying() && !m_player->isPaused());
        QCOMPARE(m_player->duration(), 0.0);
        m_player->playBitPerfect(newer);
    }
    QTRY_VERIFY(m_player->isPlaying());
    QCOMPARE(m_player->currentURL(), newer);
    QCOMPARE(m_player->duration(), 0.1);
    QCOMPARE(started.count(), 1);
    QCOMPARE(duration.count(), 1); // the older track's length was never published
    QCOMPARE(m_platform->events().filter("open"), QStringList{"open 1"});
    QCOMPARE(m_platform->renderToEnd(), 4410);
    QVERIFY(m_platform->captured(kSpeakers).startsWith(testaudio::rawData(newer.toLocalFile())));
}

void PlayerTest::failedPlayLeavesIdle_data()
{
    QTest::addColumn<bool>("atOnce");
    QTest::addColumn<QString>("file"); // "missing", "empty", "remote" or "good"
    QTest::addColumn<quint32>("device"); // 0: the default, which is gone
    QTest::addColumn<FailureKind>("failure");
    using F = FailureKind;
    const bool bg = false, inl = true;
    QTest::newRow("missing file") << bg << "missing" << kSpeakers << F::FileNotFound;
    QTest::newRow("empty file") << inl << "empty" << kSpeakers << F::UnreadableFile;
    QTest::newRow("not a local file") << bg << "remote" << kSpeakers << F::UnreadableFile;
    QTest::newRow("input-only device") << inl << "good" << kMicrophone << F::DeviceGone;
    QTest::newRow("unknown device") << inl << "good" << 99u << F::DeviceGone;
    QTest::newRow("no default device") << inl << "good" << 0u << F::NoDevice;
}

// From a playing track: nothing of the failed one or the old one is left.
// Refusals by real devices are in tst_engine_alsa.
void PlayerTest::failedPlayLeavesIdle()
{
    QFETCH(bool, atOnce);
    QFETCH(QString, file);
    QFETCH(quint32, device);
    QFETCH(FailureKind, failure);
    makePlayer(atOnce);
    m_player->playBitPerfect(track("playing.wav", 4000));
    QTRY_VERIFY(m_player->isPlaying());
    if (device != 0)
        m_player->setOutputDevice(device); // restarts the playing track there, or fails
    else
        m_platform->setDefaultOutputDevice(std::nullopt);
    QUrl url = QUrl::fromLocalFile(m_dir->filePath(file + ".flac"));
    if (file == "remote")
        url = QUrl("https://example.invalid/track.wav");
    else if (file == "good")
        url = track("good.wav", 4800);
    else if (file == "empty")
        QVERIFY(QFile(url.toLocalFile()).open(QIODevice::WriteOnly));

    QSignalSpy started(m_player.get(), &BitPerfectAudioPlayer::started);
    m_player->playBitPerfect(url);
    QTRY_VERIFY(!m_player->isLoading());
    QCOMPARE(m_player->state(), BitPerfectAudioPlayer::PlaybackState::Idle);
    QCOMPARE(m_player->duration(), 0.0);
    QCOMPARE(m_player->sampleRate(), 0.0);
    QCOMPARE(m_player->currentURL(), url);
    QCOMPARE(started.count(), 0);
    QCOMPARE(m_player->failure().kind, failure);
    QVERIFY(!m_player->signalPath()->isValid());
    QVERIFY(!m_platform->isRendering());
    QVERIFY(!m_platform->holdsExclusiveUse(kSpeakers));

    // The reason stays until the next start.
    m_player->setOutputDevice(kSpeakers);
    m_platform->setDefaultOutputDevice(kSpeakers);
    m_player->playBitPerfect(track("next.wav", 4000));
    QTRY_VERIFY(m_player->isPlaying());
    QCOMPARE(m_player->failure(), PlaybackFailure{});
}

// Chosen while playing, a device goes on from the first frame the old one did
// not play, and the old one is let go. A paused track starts on the device
// selected when it resumes, at the paused frame, also when its own device
// vanished meanwhile; with nothing to move to it ends Idle and says why.
void PlayerTest::aPausedTrackResumesOnTheDeviceSelectedNow_data()
{
    QTest::addColumn<bool>("dacUnplugged");
    QTest::addColumn<quint32>("selected"); // while paused
    QTest::addColumn<FailureKind>("failure");
    QTest::newRow("another device chosen") << false << kSpeakers << FailureKind::None;
    QTest::newRow("unplugged, another chosen") << true << kSpeakers << FailureKind::None;
    QTest::newRow("unplugged, nothing else") << true << kDac << FailureKind::DeviceGone;
}

void PlayerTest::aPausedTrackResumesOnTheDeviceSelectedNow()
{
    QFETCH(bool, dacUnplugged);
    QFETCH(quint32, selected);
    QFETCH(FailureKind, failure);
    makePlayer(true);
    const QUrl url = track("t.wav", 4410);
    const QByteArray data = testaudio::rawData(url.toLocalFile());
    m_player->playBitPerfect(url);
    QCOMPARE(m_platform->renderStep(1000), 1000);
    m_player->setOutputDevice(kDac);
    QVERIFY(m_player->isPlaying());
    QVERIFY(!m_platform->holdsExclusiveUse(kSpeakers));
    QCOMPARE(m_platform->renderStep(1000), 1000);
    m_player->pause();
    if (dacUnplugged)
        m_platform->removeDevice(kDac);
    m_player->setOutputDevice(selected);
    QVERIFY(m_player->isPaused());
    m_player->resume();
    QCOMPARE(m_player->failure().kind, failure);
    QCOMPARE(m_platform->captured(kDac), data.mid(1000 * kBytesPerFrame, 1000 * kBytesPerFrame));
    if (failure != FailureKind::None) {
        QVERIFY(!m_player->isPlaying() && !m_player->isPaused());
        QCOMPARE(m_player->failure().deviceId, kDac);
        return;
    }
    QCOMPARE(m_platform->renderToEnd(), 4410 - 2000);
    QVERIFY(m_platform->captured(kSpeakers).startsWith(data.left(1000 * kBytesPerFrame)
                                                       + data.mid(2000 * kBytesPerFrame)));
    m_player->playBitPerfect(url);
    QCOMPARE(m_player->deviceId(), kSpeakers);
}

// While the track decodes, the device is taken and configured for the
// format its header gives; the block's arrival only starts it. A track read
// ahead (kept across a device choice) and then asked to play while it
// decodes is not read twice, and readies its device the same way.
void PlayerTest::theDeviceIsReadyWhenTheDecodeEnds_data()
{
    QTest::addColumn<bool>("readAhead");
    QTest::newRow("load to play") << false;
    QTest::newRow("read ahead, then played") << true;
}

void PlayerTest::theDeviceIsReadyWhenTheDecodeEnds()
{
    QFETCH(bool, readAhead);
    std::atomic<bool> decoded{false};
    std::atomic<int> loads{0};
    m_player = std::make_unique<BitPerfectAudioPlayer>(
        *m_platform, workerLoads([&](const QByteArray &path, std::stop_token stop) {
            ++loads;
            while (!decoded.load() && !stop.stop_requested())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return loadTrack(path, stop);
        }));
    const QUrl url = track("ready.flac", 4410, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    const QString device = QString::number(readAhead ? kDac : kSpeakers);
    m_platform->clearEvents();
    if (readAhead) {
        m_player->preloadNext(url);
        m_player->setOutputDevice(kDac);
        QTRY_COMPARE(loads.load(), 1);
        QVERIFY(m_platform->events().isEmpty());
    }
    m_player->playBitPerfect(url);
    QTRY_VERIFY(m_platform->events().contains("open " + device));
    QCOMPARE(m_player->state(), BitPerfectAudioPlayer::PlaybackState::Loading);
    QVERIFY(!m_platform->isRendering());
    decoded.store(true);
    QTRY_VERIFY(m_player->isPlaying());
    QCOMPARE(m_platform->events().filter(QRegularExpression("^(open|start)")),
             (QStringList{"open " + device, "start " + device}));
    QCOMPARE(m_platform->renderToEnd(), 4410);
    QCOMPARE(loads.load(), 1);
}

// The stream went on into the track read ahead, and the GUI thread has not
// heard yet when the queue reads the one after it ahead: the track playing
// must stay in memory (the address sanitizer watches), and the newer one
// follows it gaplessly.
void PlayerTest::aNewReadAheadLeavesTheTrackPlayingAlone()
{
    makePlayer(true);
    const QList<QUrl> urls{track("1.wav", 1000), track("2.wav", 2000), track("3.wav", 1000)};
    m_player->playBitPerfect(urls[0]);
    m_player->preloadNext(urls[1]);
    QCOMPARE(m_platform->renderStep(1500), 1500);
    m_player->preloadNext(urls[2]);
    QTRY_COMPARE(m_player->currentURL(), urls[1]);
    QCOMPARE(m_platform->renderToEnd(), 2500);
    QByteArray all;
    for (const QUrl &url : urls)
        all += testaudio::rawData(url.toLocalFile());
    QCOMPARE(m_platform->captured(kSpeakers).left(all.size()), all);
}

// Under the address sanitizer: the worker must neither write into a freed
// player nor leave its decoded block behind.
void PlayerTest::destroyingThePlayerDuringALongLoad()
{
    m_player->playBitPerfect(track("long.flac", 44100 * 30, SF_FORMAT_FLAC | SF_FORMAT_PCM_24));
    m_player->seek(1.0);
    QVERIFY(m_player->isLoading());
    m_player.reset();
    QCoreApplication::processEvents(); // a result posted to the dead player is gone too
    QVERIFY(!m_platform->isRendering());
    QVERIFY(m_platform->events().isEmpty());
}

QTEST_GUILESS_MAIN(PlayerTest)
#include "tst_engine_player.moc"
