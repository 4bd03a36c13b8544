// The player loading on its worker thread, against the simulated audio
// server: requests that overtake each other, a stop or a destruction while a
// load runs, and the start position, which both load modes must place alike.
#include "BitPerfectAudioPlayer.h"
#include "SimulatedAudioPlatform.h"
#include "TestAudio.h"

#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <functional>

namespace {

constexpr quint32 kSpeakers = 1;
constexpr quint32 kDac = 2;
constexpr int kBytesPerFrame = 4; // 16-bit stereo

using LoadMode = BitPerfectAudioPlayer::LoadMode;

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

class BackgroundLoadTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void playReturnsBeforeTheTrackIsLoaded();
    void aNewerRequestSupersedesAnOlderOne_data();
    void aNewerRequestSupersedesAnOlderOne();
    void stopWhileLoadingLeavesIdleAndNothingPlays_data();
    void stopWhileLoadingLeavesIdleAndNothingPlays();
    void commandsWhileLoading();
    void startPosition_data();
    void startPosition();
    void aBadTrackEndsIdle_data();
    void aBadTrackEndsIdle();
    void destroyingThePlayerDuringALongLoad();

private:
    QUrl track(const QString &name, qint64 frames, int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    QByteArray dataOf(const QUrl &url) { return testaudio::rawData(url.toLocalFile()); }
    void makePlayer(LoadMode mode);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SimulatedAudioPlatform> m_platform;
    std::unique_ptr<BitPerfectAudioPlayer> m_player;
    quint32 m_seed = 0;
};

void BackgroundLoadTest::init()
{
    m_dir = testaudio::makeTempDir();
    m_platform = std::make_unique<SimulatedAudioPlatform>();
    m_platform->addDevice({kSpeakers, "Speakers"});
    m_platform->addDevice({kDac, "DAC"});
    m_platform->setDefaultOutputDevice(kSpeakers);
    makePlayer(LoadMode::Background);
}

void BackgroundLoadTest::cleanup()
{
    m_player.reset();
    m_platform.reset();
}

void BackgroundLoadTest::makePlayer(LoadMode mode)
{
    m_player = std::make_unique<BitPerfectAudioPlayer>(*m_platform, mode);
}

// Noise from a fresh seed: no two tracks share their bytes, so a capture
// tells which one reached the device.
QUrl BackgroundLoadTest::track(const QString &name, qint64 frames, int format)
{
    testaudio::Recipe recipe{format, 44100, 2, frames, testaudio::Signal::Noise};
    recipe.seed = ++m_seed;
    return testaudio::writeTrack(m_dir->filePath(name), recipe);
}

void BackgroundLoadTest::playReturnsBeforeTheTrackIsLoaded()
{
    const QUrl url = track("t.wav", 4410);
    QSignalSpy started(m_player.get(), &BitPerfectAudioPlayer::started);
    QSignalSpy loading(m_player.get(), &BitPerfectAudioPlayer::isLoadingChanged);
    m_player->playBitPerfect(url);
    QVERIFY(m_player->isLoading());
    QVERIFY(!m_player->isPlaying());
    QCOMPARE(m_player->currentURL(), url);
    QCOMPARE(m_player->duration(), 0.0);
    QVERIFY(m_platform->events().isEmpty());

    QTRY_VERIFY(m_player->isPlaying());
    QVERIFY(!m_player->isLoading());
    QCOMPARE(started.count(), 1);
    QCOMPARE(loading.count(), 2);
    QCOMPARE(m_player->duration(), 0.1);
    QCOMPARE(m_platform->renderToEnd(), 4410);
    QCOMPARE(m_platform->captured(kSpeakers).left(4410 * kBytesPerFrame), dataOf(url));
}

// The older track may still wait for the worker, or be loaded with its start
// already on its way to the GUI thread; either way it never reaches a device.
void BackgroundLoadTest::aNewerRequestSupersedesAnOlderOne_data()
{
    QTest::addColumn<bool>("olderLoaded");
    QTest::newRow("back to back") << false;
    QTest::newRow("the older one loaded") << true;
}

void BackgroundLoadTest::aNewerRequestSupersedesAnOlderOne()
{
    QFETCH(bool, olderLoaded);
    const QUrl older = track("older.flac", 441, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    const QUrl newer = track("newer.wav", 4410);
    QSignalSpy started(m_player.get(), &BitPerfectAudioPlayer::started);
    QSignalSpy duration(m_player.get(), &BitPerfectAudioPlayer::durationChanged);
    m_player->playBitPerfect(older);
    BeforeFirstQueuedCall newerRequest(m_player->findChild<TrackLoadWorker *>(), [&] { m_player->playBitPerfect(newer); });
    if (!olderLoaded)
        newerRequest.runNow();
    QTRY_VERIFY(m_player->isPlaying());
    QCOMPARE(m_player->currentURL(), newer);
    QCOMPARE(m_player->duration(), 0.1);
    QCOMPARE(started.count(), 1);
    QCOMPARE(duration.count(), 1); // the older track's length was never published
    QCOMPARE(m_platform->events().filter("open"), QStringList{"open 1"});
    QCOMPARE(m_platform->openedLayout(kSpeakers).bitsPerSample, 16u);
    QCOMPARE(m_platform->renderToEnd(), 4410);
    QVERIFY(m_platform->captured(kSpeakers).startsWith(dataOf(newer)));
}

void BackgroundLoadTest::stopWhileLoadingLeavesIdleAndNothingPlays_data()
{
    QTest::addColumn<bool>("loaded");
    QTest::newRow("at once") << false;
    QTest::newRow("the track loaded") << true;
}

// The worker loads one track at a time, in order, so once a later track plays
// the stopped one's result has come and gone.
void BackgroundLoadTest::stopWhileLoadingLeavesIdleAndNothingPlays()
{
    QFETCH(bool, loaded);
    const QUrl stopped = track("stopped.wav", 44100);
    const QUrl later = track("later.wav", 441);
    QSignalSpy started(m_player.get(), &BitPerfectAudioPlayer::started);
    m_player->playBitPerfect(stopped);
    BeforeFirstQueuedCall stop(m_player->findChild<TrackLoadWorker *>(), [&] { m_player->stop(); });
    if (!loaded)
        stop.runNow();
    QTRY_VERIFY(!m_player->isLoading());
    QVERIFY(!m_player->isPlaying() && !m_player->isPaused());
    QCOMPARE(m_player->duration(), 0.0);

    m_player->playBitPerfect(later);
    QTRY_VERIFY(m_player->isPlaying());
    QCOMPARE(started.count(), 1);
    QCOMPARE(m_platform->events().filter("open").size(), 1);
    QCOMPARE(m_platform->renderToEnd(), 441);
    QVERIFY(m_platform->captured(kSpeakers).startsWith(dataOf(later)));
}

void BackgroundLoadTest::commandsWhileLoading()
{
    m_player->playBitPerfect(track("t.wav", 4410));
    m_player->pause();
    m_player->resume();
    m_player->setOutputDevice(kDac);
    QVERIFY(m_player->isLoading());
    QVERIFY(!m_player->isPaused() && !m_player->isPlaying());
    QVERIFY(m_platform->events().isEmpty());

    QTRY_VERIFY(m_player->isPlaying());
    QVERIFY(!m_player->isPaused());
    QCOMPARE(m_player->deviceId(), kDac);
    QCOMPARE(m_platform->events().filter("open"), QStringList{"open 2"});
}

void BackgroundLoadTest::startPosition_data()
{
    QTest::addColumn<LoadMode>("mode");
    QTest::addColumn<double>("fraction");
    QTest::addColumn<double>("seekWhileLoading"); // NaN: none
    QTest::addColumn<qint64>("frame");
    const double none = std::nan("");
    const LoadMode background = LoadMode::Background;
    QTest::newRow("start") << background << 0.0 << none << qint64(0);
    QTest::newRow("middle") << background << 0.5 << none << qint64(2205);
    QTest::newRow("middle, loaded inline") << LoadMode::Inline << 0.5 << none << qint64(2205);
    QTest::newRow("truncated toward zero") << background << 0.33333 << none << qint64(1469);
    QTest::newRow("beyond the end") << background << 1.7 << none << qint64(4410);
    QTest::newRow("negative") << background << -0.2 << none << qint64(0);
    QTest::newRow("NaN") << background << std::nan("") << none << qint64(0);
    // Inline, the load is over before a seek can come.
    QTest::newRow("a seek replaces the fraction") << background << 0.5 << 0.025 << qint64(1102);
    QTest::newRow("a seek to the loaded end") << background << 0.5 << 0.1 << qint64(4410);
    QTest::newRow("a seek past the loaded end") << background << 0.5 << 0.2 << qint64(2205);
    QTest::newRow("a negative seek") << background << 0.5 << -1.0 << qint64(2205);
}

void BackgroundLoadTest::startPosition()
{
    QFETCH(LoadMode, mode);
    QFETCH(double, fraction);
    QFETCH(double, seekWhileLoading);
    QFETCH(qint64, frame);
    makePlayer(mode);
    const QUrl url = track("t.wav", 4410);
    m_player->playBitPerfect(url, fraction);
    if (!std::isnan(seekWhileLoading))
        m_player->seek(seekWhileLoading);
    QTRY_VERIFY(m_player->isPlaying());
    QCOMPARE(m_player->currentFrame(), frame);
    QCOMPARE(m_platform->renderToEnd(), 4410 - frame);
    const QByteArray rest = dataOf(url).mid(frame * kBytesPerFrame);
    QCOMPARE(m_platform->captured(kSpeakers).left(rest.size()), rest);
}

void BackgroundLoadTest::aBadTrackEndsIdle_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing file") << "missing";
    QTest::newRow("corrupt file") << "corrupt";
    QTest::newRow("not a local file") << "remote";
}

void BackgroundLoadTest::aBadTrackEndsIdle()
{
    QFETCH(QString, kind);
    m_player->playBitPerfect(track("playing.wav", 44100));
    QTRY_VERIFY(m_player->isPlaying());
    QUrl url = QUrl::fromLocalFile(m_dir->filePath("bad.flac"));
    if (kind == "corrupt")
        QVERIFY(QFile(url.toLocalFile()).open(QIODevice::WriteOnly));
    if (kind == "remote")
        url = QUrl("https://example.invalid/track.wav");
    QSignalSpy started(m_player.get(), &BitPerfectAudioPlayer::started);
    m_player->playBitPerfect(url);
    QVERIFY(m_player->isLoading());
    QTRY_VERIFY(!m_player->isLoading());
    QVERIFY(!m_player->isPlaying() && !m_player->isPaused());
    QCOMPARE(m_player->duration(), 0.0);
    QCOMPARE(m_player->sampleRate(), 0.0);
    QCOMPARE(m_player->currentURL(), url);
    QCOMPARE(started.count(), 0);
    QVERIFY(!m_platform->isRendering());
    QVERIFY(!m_platform->holdsExclusiveUse(kSpeakers));
}

// Under the address sanitizer: the worker must neither write into a freed
// player nor leave its decoded block behind.
void BackgroundLoadTest::destroyingThePlayerDuringALongLoad()
{
    const QUrl url = track("long.flac", 44100 * 30, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    m_player->playBitPerfect(url);
    m_player->seek(1.0);
    QVERIFY(m_player->isLoading());
    m_player.reset();
    QCoreApplication::processEvents(); // a result posted to the dead player is gone too
    QVERIFY(!m_platform->isRendering());
    QVERIFY(m_platform->events().isEmpty());
}

QTEST_GUILESS_MAIN(BackgroundLoadTest)
#include "tst_engine_background.moc"
