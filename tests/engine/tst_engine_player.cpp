// The player's transport and state machine against the simulated audio
// server, which renders step by step and captures every byte.
#include "BitPerfectAudioPlayer.h"
#include "SimulatedAudioPlatform.h"
#include "TestAudio.h"

#include <QSignalSpy>
#include <QTest>
#include <cmath>

namespace {

constexpr quint32 kSpeakers = 1;
constexpr quint32 kDac = 2;
constexpr quint32 kOldDac = 4; // 16-bit only

StreamFormat layout(SampleKind kind, quint32 bits, bool bigEndian = false)
{
    StreamFormat f;
    f.kind = kind;
    f.bitsPerSample = bits;
    f.bigEndian = bigEndian;
    return f;
}

} // namespace

Q_DECLARE_METATYPE(PlaybackFailure)

class PlayerTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void thousandFramesIn512FrameRequests();
    void seek_data();
    void seek();
    void pauseAndResumeContinueAtTheSameFrame();
    void secondTrackSetsItsRateBeforeItStarts();
    void failedPlayLeavesIdle_data();
    void failedPlayLeavesIdle();
    void restrictedDeviceGetsLosslessLayout();
    void setOutputDeviceRestartsOnlyAPlayingTrack();
    void destructionStopsOutput();

private:
    QUrl track(const QString &name, testaudio::Recipe recipe);
    void verifyIdleAfterFailure(const QUrl &url);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SimulatedAudioPlatform> m_platform;
    std::unique_ptr<BitPerfectAudioPlayer> m_player;
};

void PlayerTest::init()
{
    m_dir = testaudio::makeTempDir();
    m_platform = std::make_unique<SimulatedAudioPlatform>();
    m_platform->addDevice({kSpeakers, "Speakers"});
    SimulatedDevice dac{kDac, "DAC"};
    dac.supportedRates = {44100, 48000, 96000};
    dac.supportedLayouts = {layout(SampleKind::SignedInt, 16), layout(SampleKind::SignedInt, 32)};
    m_platform->addDevice(dac);
    m_platform->addDevice({3, "Microphone", false});
    SimulatedDevice oldDac{kOldDac, "Old DAC"};
    oldDac.supportedLayouts = {layout(SampleKind::SignedInt, 16)};
    m_platform->addDevice(oldDac);
    m_platform->setDefaultOutputDevice(kSpeakers);
    m_player = std::make_unique<BitPerfectAudioPlayer>(*m_platform, BitPerfectAudioPlayer::LoadMode::Inline);
}

void PlayerTest::cleanup()
{
    m_player.reset();
    m_platform.reset();
}

QUrl PlayerTest::track(const QString &name, testaudio::Recipe recipe)
{
    return testaudio::writeTrack(m_dir->filePath(name), recipe);
}

void PlayerTest::thousandFramesIn512FrameRequests()
{
    const QUrl url = track("t.wav", {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 1000, testaudio::Signal::Noise});
    QSignalSpy playing(m_player.get(), &BitPerfectAudioPlayer::isPlayingChanged);
    m_player->playBitPerfect(url);
    QVERIFY(m_player->isPlaying());
    QCOMPARE(m_player->duration(), 1000.0 / 44100.0);
    QCOMPARE(m_player->sampleRate(), 44100.0);
    QVERIFY(m_platform->holdsExclusiveUse(kSpeakers));

    QCOMPARE(m_platform->renderStep(512), 512);
    QCOMPARE(m_platform->renderStep(512), 488);
    QCOMPARE(m_platform->renderStep(512), 0); // the stream stops itself at the end
    QCOMPARE(m_platform->renderStep(512), -1);
    QVERIFY(m_player->isPlaying()); // the end reaches the GUI thread as an event
    QTRY_VERIFY(!m_player->isPlaying());

    const QByteArray raw = testaudio::rawData(url.toLocalFile());
    const QByteArray captured = m_platform->captured(kSpeakers);
    QCOMPARE(captured.size(), 2 * 512 * 4);
    QCOMPARE(captured.left(4000), raw);
    QCOMPARE(captured.mid(4000), QByteArray(captured.size() - 4000, '\0'));
    QCOMPARE(playing.count(), 2);
    QVERIFY(!m_player->isPaused());
    QCOMPARE(m_player->currentFrame(), 1000);
    QCOMPARE(m_player->duration(), 1000.0 / 44100.0);
    QVERIFY(!m_platform->holdsExclusiveUse(kSpeakers));
    QVERIFY(!m_platform->isRendering());
}

void PlayerTest::seek_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<qint64>("frame"); // -1: unchanged
    QTest::newRow("start") << 0.0 << qint64(0);
    QTest::newRow("middle") << 0.25 << qint64(11025);
    QTest::newRow("truncated toward zero") << 0.123456 << qint64(5444);
    QTest::newRow("the very end") << 1.0 << qint64(44100);
    QTest::newRow("negative") << -0.1 << qint64(-1);
    QTest::newRow("beyond the end") << 1.0001 << qint64(-1);
    QTest::newRow("NaN") << std::nan("") << qint64(-1);
    QTest::newRow("infinity") << HUGE_VAL << qint64(-1);
}

void PlayerTest::seek()
{
    QFETCH(double, seconds);
    QFETCH(qint64, frame);
    m_player->playBitPerfect(track("t.wav", {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, 44100}));
    QCOMPARE(m_platform->renderStep(1000), 1000);
    m_player->seek(seconds);
    QCOMPARE(m_player->currentFrame(), frame < 0 ? 1000 : frame);
}

void PlayerTest::pauseAndResumeContinueAtTheSameFrame()
{
    const QUrl url = track("t.wav", {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 2048, testaudio::Signal::Noise});
    QSignalSpy paused(m_player.get(), &BitPerfectAudioPlayer::isPausedChanged);
    m_player->resume(); // Idle: nothing to resume
    m_player->playBitPerfect(url);
    m_player->resume(); // Playing: unchanged
    QCOMPARE(m_platform->renderStep(512), 512);
    m_player->pause();
    m_player->pause();
    QVERIFY(!m_player->isPlaying());
    QVERIFY(m_player->isPaused());
    QCOMPARE(paused.count(), 1);
    QCOMPARE(m_platform->renderStep(512), -1);
    QVERIFY(m_platform->holdsExclusiveUse(kSpeakers));

    m_player->seek(1024 / 44100.0);
    m_player->resume();
    QVERIFY(m_player->isPlaying());
    QVERIFY(!m_player->isPaused());
    QCOMPARE(paused.count(), 2);
    QCOMPARE(m_platform->renderStep(512), 512);
    const QByteArray raw = testaudio::rawData(url.toLocalFile());
    QCOMPARE(m_platform->captured(kSpeakers), raw.left(2048) + raw.mid(4096, 2048));
}

void PlayerTest::secondTrackSetsItsRateBeforeItStarts()
{
    QSignalSpy rate(m_player.get(), &BitPerfectAudioPlayer::sampleRateChanged);
    m_player->playBitPerfect(track("a.wav", {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 2000}));
    QCOMPARE(m_platform->renderStep(512), 512);
    m_platform->clearEvents();
    m_player->playBitPerfect(track("b.flac", {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 96000, 2, 2000}));
    QVERIFY(m_player->isPlaying());
    QCOMPARE(m_player->sampleRate(), 96000.0);
    QCOMPARE(rate.count(), 2);
    QCOMPARE(m_platform->events(),
             (QStringList{"stop 1", "close 1", "give-up 1", "take 1", "rate 1 96000", "open 1", "start 1"}));
    QCOMPARE(m_player->currentFrame(), 0);
    m_platform->renderToEnd();
    QTRY_VERIFY(!m_player->isPlaying());
    QCOMPARE(m_platform->nominalSampleRate(kSpeakers), 96000.0); // stays after playback
}

void PlayerTest::failedPlayLeavesIdle_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("rate");
    QTest::addColumn<quint32>("device");
    QTest::addColumn<QString>("condition");
    QTest::addColumn<PlaybackFailure>("failure");
    const int wav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    using F = PlaybackFailure;
    QTest::newRow("missing file") << "missing.wav" << 0 << 44100 << kSpeakers << "" << F::UnreadableFile;
    QTest::newRow("corrupt file") << "corrupt.flac" << -1 << 44100 << kSpeakers << "" << F::UnreadableFile;
    QTest::newRow("rate the device lacks") << "low.wav" << wav16 << 22050 << kDac << "" << F::RateRefused;
    QTest::newRow("no lossless layout") << "wide.flac" << (SF_FORMAT_FLAC | SF_FORMAT_PCM_24) << 48000 << kOldDac << "" << F::FormatRefused;
    QTest::newRow("busy device") << "a.wav" << wav16 << 44100 << kSpeakers << "busy" << F::DeviceBusy;
    QTest::newRow("input-only device") << "a.wav" << wav16 << 44100 << 3u << "" << F::DeviceGone;
    QTest::newRow("unknown device") << "a.wav" << wav16 << 44100 << 99u << "" << F::DeviceGone;
    QTest::newRow("no default device") << "a.wav" << wav16 << 44100 << 0u << "no default" << F::NoDevice;
}

void PlayerTest::failedPlayLeavesIdle()
{
    QFETCH(QString, name);
    QFETCH(int, format);
    QFETCH(int, rate);
    QFETCH(quint32, device);
    QFETCH(QString, condition);
    QFETCH(PlaybackFailure, failure);
    m_player->playBitPerfect(track("playing.wav", {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 4000}));
    QVERIFY(m_player->isPlaying());
    if (device != 0)
        m_player->setOutputDevice(device); // restarts the playing track there, or fails
    m_player->playBitPerfect(track("playing.wav", {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 4000}));
    if (condition == "busy")
        m_platform->setBusy(kSpeakers, true);
    if (condition == "no default")
        m_platform->setDefaultOutputDevice(std::nullopt);

    QUrl url = QUrl::fromLocalFile(m_dir->filePath(name));
    if (format > 0)
        url = track(name, {format, rate, 2, 4800});
    else if (format < 0)
        QVERIFY(QFile(url.toLocalFile()).open(QIODevice::WriteOnly));
    m_player->playBitPerfect(url);
    verifyIdleAfterFailure(url);
    QCOMPARE(m_player->failure(), failure);
    QVERIFY(!m_player->failureReason().isEmpty());
    QVERIFY(!m_player->signalPath()->isValid());
    // The reason stays until the next start.
    m_player->setOutputDevice(kSpeakers);
    m_platform->setDefaultOutputDevice(kSpeakers);
    m_platform->setBusy(kSpeakers, false);
    m_player->playBitPerfect(track("next.wav", {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 4000}));
    QVERIFY(m_player->isPlaying());
    QCOMPARE(m_player->failure(), PlaybackFailure::None);
    QVERIFY(m_player->failureReason().isEmpty());
}

void PlayerTest::verifyIdleAfterFailure(const QUrl &url)
{
    QVERIFY(!m_player->isPlaying());
    QVERIFY(!m_player->isPaused());
    QCOMPARE(m_player->duration(), 0.0);
    QCOMPARE(m_player->sampleRate(), 0.0);
    QCOMPARE(m_player->currentURL(), url);
    QVERIFY(!m_platform->isRendering());
    for (quint32 id : {kSpeakers, kDac})
        QVERIFY(!m_platform->holdsExclusiveUse(id));
}

void PlayerTest::restrictedDeviceGetsLosslessLayout()
{
    m_player->setOutputDevice(kDac);
    m_player->playBitPerfect(track("be.aiff", {SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 48000, 1, 3, testaudio::Signal::FullScale}));
    QVERIFY(m_player->isPlaying());
    QCOMPARE(m_platform->openedLayout(kDac).bitsPerSample, 32u);
    QCOMPARE(m_player->outputFormat().bitsPerSample, 32u);
    QCOMPARE(m_platform->renderStep(3), 3);
    QCOMPARE(m_platform->captured(kDac), QByteArray("\x00\xff\xff\x7f", 4).repeated(3));
    QCOMPARE(m_player->signalPath()->kind(), sampleformats::PathKind::Lossless);
    QCOMPARE(m_player->signalPath()->format(), "S32_LE");

    // A true float has no lossless layout there: rounded once, widest first.
    m_player->playBitPerfect(track("f.wav", {SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, 3, testaudio::Signal::FullScale}));
    QVERIFY(m_player->isPlaying());
    QCOMPARE(m_player->signalPath()->kind(), sampleformats::PathKind::Rounded);
    m_platform->clearCaptured();
    QCOMPARE(m_platform->renderStep(3), 3);
    QCOMPARE(m_platform->captured(kDac), QByteArray("\xff\xff\xff\x7f", 4).repeated(3));
    m_player->stop();
    QVERIFY(!m_player->signalPath()->isValid());
}

void PlayerTest::setOutputDeviceRestartsOnlyAPlayingTrack()
{
    m_player->playBitPerfect(track("t.wav", {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 4800}));
    QCOMPARE(m_platform->renderStep(512), 512);
    m_player->setOutputDevice(kDac);
    QVERIFY(m_player->isPlaying());
    QCOMPARE(m_player->deviceId(), kDac);
    QCOMPARE(m_player->currentFrame(), 512); // carried over, not restarted
    QVERIFY(!m_platform->holdsExclusiveUse(kSpeakers));
    QVERIFY(m_platform->holdsExclusiveUse(kDac));

    m_player->pause();
    m_player->setOutputDevice(kSpeakers);
    QVERIFY(m_player->isPaused());
    QCOMPARE(m_player->deviceId(), kDac); // until the next start
    m_player->resume();
    QCOMPARE(m_platform->renderStep(16), 16);
    QCOMPARE(m_platform->captured(kSpeakers).size(), 512 * 4);
}

void PlayerTest::destructionStopsOutput()
{
    m_player->playBitPerfect(track("t.wav", {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 4800}));
    m_player.reset();
    QVERIFY(!m_platform->isRendering());
    QVERIFY(!m_platform->holdsExclusiveUse(kSpeakers));
}

QTEST_GUILESS_MAIN(PlayerTest)
#include "tst_engine_player.moc"
