// The player on the restricted test DACs (an ALSA external plugin built for
// the tests, paced in real time): refused starts and why, a device that
// vanishes mid-track, a pause that resumes where the sound stopped, a render
// thread that never allocates, and the card's reservation on a private
// session bus.
#include "AlsaAudioPlatform.h"
#include "AlsaTestRig.h"
#include "BitPerfectAudioPlayer.h"
#include "DeviceReservation.h"
#include "TestAudio.h"
#include "TestFiles.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <sys/prctl.h>
#include <thread>

namespace {

// Every allocation made on a thread named like the engine's render thread.
std::atomic<int> g_renderThreadAllocations{0};

void noteAllocation()
{
    char name[16] = {};
    prctl(PR_GET_NAME, name);
    if (std::strcmp(name, "quorvel-render") == 0)
        g_renderThreadAllocations.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime (its header is not packaged with GCC here).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                                         void (*)(const volatile void *));
// The sanitizer's hook sees C and C++ allocations alike.
static void onMalloc(const volatile void *, size_t) { noteAllocation(); }
static void onFree(const volatile void *) {}
static void installAllocationCounter() { __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree); }
#else
#include <cstdlib>
#include <new>
static void installAllocationCounter() {}
void *operator new(std::size_t size)
{
    noteAllocation();
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t size) { return operator new(size); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }
#endif

namespace {

// A player on the named test PCM.
struct Rig
{
    explicit Rig(const QString &dir, const char *pcm)
        : platform(nullptr, dir + "/snd"), id(deviceIdForPcm(pcm))
    {
        player.setOutputDevice(id);
    }
    AlsaAudioPlatform platform;
    BitPerfectAudioPlayer player{platform, BitPerfectAudioPlayer::LoadMode::Inline};
    quint32 id;
};

} // namespace

Q_DECLARE_METATYPE(PlaybackFailure)

const QString kReservation = QStringLiteral("org.freedesktop.ReserveDevice1.Audio%1").arg(alsarig::kReservedCard);
const QString kReservationPath = QStringLiteral("/org/freedesktop/ReserveDevice1/Audio%1").arg(alsarig::kReservedCard);

// Another program on the session bus that holds the test card, as a sound
// server does: it owns the card's reservation name and (when it grants) has
// the card's PCM open, which it closes a moment after it agreed to let go.
class StandInHolder : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ReserveDevice1")

public:
    StandInHolder(const QString &address, bool grants)
        : m_bus(QDBusConnection::connectToBus(address, QStringLiteral("holder"))), m_grants(grants) {}
    ~StandInHolder() override
    {
        closePcm();
        m_bus.unregisterObject(kReservationPath);
        QDBusConnection::disconnectFromBus(QStringLiteral("holder"));
    }

    bool hold(bool openPcm)
    {
        if (openPcm && snd_pcm_open(&m_pcm, "quorvel_dac_card", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
            return false;
        return m_bus.registerObject(kReservationPath, this, QDBusConnection::ExportAllSlots)
               && m_bus.interface()->registerService(kReservation, QDBusConnectionInterface::DontQueueService,
                                                     QDBusConnectionInterface::AllowReplacement)
                      == QDBusConnectionInterface::ServiceRegistered;
    }
    QDBusConnection &bus() { return m_bus; }
    QList<int> requests() const { return m_requests; }
    bool pcmOpen() const { return m_pcm != nullptr; }
    void closePcm()
    {
        if (m_pcm)
            snd_pcm_close(std::exchange(m_pcm, nullptr));
    }

public slots:
    bool RequestRelease(int priority)
    {
        m_requests << priority;
        if (!m_grants || priority <= 0)
            return false;
        QTimer::singleShot(300, this, &StandInHolder::closePcm); // a sound server is not instant
        return true;
    }

private:
    QDBusConnection m_bus;
    bool m_grants;
    snd_pcm_t *m_pcm = nullptr;
    QList<int> m_requests;
};

// Whose the reservation name is now, by unique name.
static QString reservationOwner()
{
    return QDBusConnection::sessionBus().interface()->serviceOwner(kReservation).value();
}

class AlsaDacTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void aRefusedOrLostDeviceLeavesIdle_data();
    void aRefusedOrLostDeviceLeavesIdle();
    void pauseResumesWhereTheSoundStopped();
    void renderThreadAllocatesNothing();
    void cardIsReservedOnTheSessionBus_data();
    void cardIsReservedOnTheSessionBus();

private:
    bool playToEnd(const char *pcm, const QString &path);
    std::unique_ptr<QTemporaryDir> m_dir = testaudio::makeTempDir();
    QProcess m_bus;
    QString m_busAddress;
};

void AlsaDacTest::initTestCase()
{
    QString error;
    QVERIFY2(alsarig::install(m_dir->path(), &error), qPrintable(error));
    installAllocationCounter();
    // A session bus of the test's own, before anything connects to one.
    // It dies with the test, also when the test crashes.
    m_bus.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_bus.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    QVERIFY2(m_bus.waitForStarted(), "dbus-daemon is missing (scripts/install-deps --test)");
    QTRY_VERIFY(m_bus.canReadLine());
    m_busAddress = QString::fromUtf8(m_bus.readLine()).trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_busAddress.toUtf8());
    QVERIFY(QDBusConnection::sessionBus().isConnected());
}

void AlsaDacTest::cleanupTestCase()
{
    m_bus.terminate();
    m_bus.waitForFinished();
}

bool AlsaDacTest::playToEnd(const char *pcm, const QString &path)
{
    Rig rig(m_dir->path(), pcm);
    rig.player.playBitPerfect(QUrl::fromLocalFile(path));
    return rig.player.isPlaying() && QTest::qWaitFor([&] { return !rig.player.isPlaying(); }, 20000);
}

void AlsaDacTest::aRefusedOrLostDeviceLeavesIdle_data()
{
    QTest::addColumn<QString>("pcm");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("rate");
    QTest::addColumn<PlaybackFailure>("failure");
    using F = PlaybackFailure;
    const int wav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    QTest::newRow("rate the DAC lacks") << "quorvel_dac" << wav16 << 22050 << F::RateRefused;
    // Integers are never rounded: a wider source than the DAC takes is refused.
    QTest::newRow("24-bit wav on 16 bits") << "quorvel_dac_s16" << (SF_FORMAT_WAV | SF_FORMAT_PCM_24) << 48000 << F::FormatRefused;
    QTest::newRow("24-bit flac on 16 bits") << "quorvel_dac_s16" << (SF_FORMAT_FLAC | SF_FORMAT_PCM_24) << 48000 << F::FormatRefused;
    QTest::newRow("busy") << "quorvel_dac_busy" << wav16 << 48000 << F::DeviceBusy;
    QTest::newRow("absent hw card") << "quorvel_hw_alias" << wav16 << 48000 << F::DeviceGone;
    // With no device to take over, the player stops and says why.
    QTest::newRow("unplugged mid-track") << "quorvel_dac_unplug" << wav16 << 48000 << F::DeviceLost;
}

void AlsaDacTest::aRefusedOrLostDeviceLeavesIdle()
{
    QFETCH(QString, pcm);
    QFETCH(int, format);
    QFETCH(int, rate);
    QFETCH(PlaybackFailure, failure);
    const QString path = m_dir->filePath("refused." + testaudio::extension(format));
    testaudio::writeTrack(path, {format, rate, 2, rate / 2});
    Rig rig(m_dir->path(), pcm.toUtf8().constData());
    rig.player.playBitPerfect(QUrl::fromLocalFile(path));
    QTRY_VERIFY(!rig.player.isPlaying());
    QVERIFY(!rig.player.isPaused());
    QCOMPARE(rig.player.sampleRate(), 0.0);
    QVERIFY(!rig.platform.holdsExclusiveUse(rig.id));
    QCOMPARE(rig.player.failure(), failure);
}

// A pause drops what waits in the device buffer; the resume must replay it,
// so that no part of the track goes unheard.
void AlsaDacTest::pauseResumesWhereTheSoundStopped()
{
    const QString path = m_dir->filePath("pause.wav");
    testaudio::writeTrack(path, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 48000, testaudio::Signal::Noise});
    const QString record = m_dir->filePath("dac-received.raw");
    Rig rig(m_dir->path(), "quorvel_dac");
    BitPerfectAudioPlayer &player = rig.player;
    player.playBitPerfect(QUrl::fromLocalFile(path));
    QTRY_VERIFY(QFileInfo(record).size() >= 48000 * 4 / 2);
    player.pause();
    const qint64 received = QFileInfo(record).size() / 4;
    const qint64 resumeAt = player.currentFrame();
    QVERIFY(resumeAt < received && received - resumeAt <= 48000 * 3 / 10); // at most a buffer and a period
    player.resume();
    QTRY_VERIFY_WITH_TIMEOUT(!player.isPlaying(), 5000);
    const QByteArray raw = testaudio::rawData(path);
    QCOMPARE(testfiles::readAll(record).mid(received * 4, raw.size() - resumeAt * 4), raw.mid(resumeAt * 4));
}

void AlsaDacTest::renderThreadAllocatesNothing()
{
    // The counter sees allocations on a thread of that name.
    std::thread probe([] {
        pthread_setname_np(pthread_self(), "quorvel-render");
        int *volatile p = new int(1);
        delete p;
    });
    probe.join();
    QVERIFY(g_renderThreadAllocations.load() >= 1);

    g_renderThreadAllocations.store(0);
    const QString wav = m_dir->filePath("alloc.wav");
    const QString flac = m_dir->filePath("alloc.flac");
    testaudio::writeTrack(wav, {SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2, 12000});
    testaudio::writeTrack(flac, {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, 44100});
    QVERIFY(playToEnd("quorvel_dac", wav));        // widening on the render thread
    QVERIFY(playToEnd("quorvel_capture", flac));   // the track's own layout
    QCOMPARE(g_renderThreadAllocations.load(), 0);
}

void AlsaDacTest::cardIsReservedOnTheSessionBus_data()
{
    QTest::addColumn<bool>("grants");
    QTest::newRow("a holder that grants") << true;
    QTest::newRow("a holder that refuses") << false;
}

void AlsaDacTest::cardIsReservedOnTheSessionBus()
{
    QFETCH(bool, grants);
    const QString path = m_dir->filePath("reserved.wav");
    testaudio::writeTrack(path, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 48000 * 4});
    const QString record = m_dir->filePath("card-received.raw");
    QFile::remove(record);
    const QString ours = QDBusConnection::sessionBus().baseService();
    const auto holder = std::make_unique<StandInHolder>(m_busAddress, grants);
    // A refusing holder leaves the PCM free, so that an open would show.
    QVERIFY(holder->hold(grants));
    QCOMPARE(reservationOwner(), holder->bus().baseService());

    Rig rig(m_dir->path(), "quorvel_dac_card");
    BitPerfectAudioPlayer &player = rig.player;
    player.playBitPerfect(QUrl::fromLocalFile(path));
    QVERIFY(player.isLoading()); // asked, waiting for the answer
    QTRY_VERIFY(!player.isLoading());
    QCOMPARE(holder->requests(), QList<int>{10});
    if (!grants) {
        QVERIFY(!player.isPlaying());
        QCOMPARE(player.failure(), PlaybackFailure::DeviceBusy);
        QCOMPARE(reservationOwner(), holder->bus().baseService());
        QVERIFY2(!QFile::exists(record), "the card was opened although its holder refused");
        return;
    }
    // The holder's PCM closed after it answered: the open waited for it.
    QVERIFY(player.isPlaying());
    QVERIFY(!holder->pcmOpen());
    QCOMPARE(reservationOwner(), ours);
    QTRY_VERIFY(QFileInfo(record).size() > 0);

    // Kept across tracks, given back on stop once the PCM is closed.
    player.playBitPerfect(QUrl::fromLocalFile(path));
    QVERIFY(player.isPlaying());
    QCOMPARE(holder->requests().size(), 1);
    player.stop();
    QTRY_VERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(kReservation).value());

    // As the holder: a lower claim is refused, a higher one closes the card
    // before the answer and leaves the player Idle, saying why.
    player.playBitPerfect(QUrl::fromLocalFile(path));
    QVERIFY(player.isPlaying());
    QCOMPARE(reservationOwner(), ours);
    for (int priority : {DeviceReservation::kPriority, 100}) {
        QDBusMessage call = QDBusMessage::createMethodCall(kReservation, kReservationPath,
                                                           "org.freedesktop.ReserveDevice1", "RequestRelease");
        call << priority;
        QDBusPendingCallWatcher answer(holder->bus().asyncCall(call));
        bool answered = false, closedBeforeAnswer = false;
        connect(&answer, &QDBusPendingCallWatcher::finished, this, [&] {
            answered = true;
            snd_pcm_t *pcm = nullptr;
            closedBeforeAnswer = snd_pcm_open(&pcm, "quorvel_dac_card", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) == 0;
            if (pcm)
                snd_pcm_close(pcm);
        });
        QTRY_VERIFY(answered);
        const QDBusPendingReply<bool> reply = answer;
        QCOMPARE(reply.value(), priority > DeviceReservation::kPriority);
        QCOMPARE(closedBeforeAnswer, priority > DeviceReservation::kPriority);
        QCOMPARE(player.isPlaying(), priority <= DeviceReservation::kPriority);
    }
    // The requester takes the name over, as the protocol has it.
    QCOMPARE(holder->bus().interface()->registerService(kReservation, QDBusConnectionInterface::ReplaceExistingService,
                                                       QDBusConnectionInterface::AllowReplacement).value(),
             QDBusConnectionInterface::ServiceRegistered);
    QCOMPARE(player.failure(), PlaybackFailure::DeviceTaken);
}

QTEST_GUILESS_MAIN(AlsaDacTest)
#include "tst_engine_alsa_dac.moc"
