// Bit-perfect output through real ALSA, on test PCMs of the tests' own ALSA
// configuration (AlsaTestRig.h): what a device receives must equal the file's
// data chunk (raw path), libsndfile's float frames (decode path), or, on the
// restricted test DACs (an external plugin paced in real time), the same
// integer values widened or byte-swapped, and true floats rounded once; on
// none of those paths does the render thread allocate. Besides: albums as one
// stream, device nodes coming and going, refused starts and why, a pause or a
// seek going on where asked, and the card's reservation on a private bus.
#include "AlsaAudioPlatform.h"
#include "AlsaTestRig.h"
#include "BitPerfectAudioPlayer.h"
#include "DeviceReservation.h"
#include "PrivateBus.h"
#include "TestAudio.h"
#include "TestFiles.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QtEndian>
#include <atomic>
#include <cstring>
#include <functional>
#include <pthread.h>
#include <sys/prctl.h>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
// From the address sanitizer's runtime (its header is not packaged with GCC
// here): its hook sees C and C++ allocations alike. Other builds, where no
// hook sees them all, skip the check.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                                         void (*)(const volatile void *));
#endif

namespace {

// Every allocation made on a thread named like the engine's render thread.
std::atomic<int> g_renderThreadAllocations{0};

[[maybe_unused]] void countRenderThreadAllocation(const volatile void *, size_t)
{
    char name[16] = {};
    prctl(PR_GET_NAME, name);
    if (std::strcmp(name, "quorvel-render") == 0)
        g_renderThreadAllocations.fetch_add(1, std::memory_order_relaxed);
}

// A player on the named test PCM.
struct Rig
{
    Rig(const QString &dir, const QString &pcm) : platform(nullptr, dir + "/snd"), id(deviceIdForPcm(pcm.toUtf8()))
    {
        player.setOutputDevice(id);
    }
    AlsaAudioPlatform platform;
    BitPerfectAudioPlayer player{platform, loadsAtOnce()};
    quint32 id;
};

// What a device must receive when the track's values pass unchanged: the
// data chunk for the capture PCM, which takes every layout as it is stored
// (decoded tracks as libsndfile's floats); for the DACs, libsndfile's
// left-aligned integers cut to the device's width, little-endian.
QByteArray unchangedValues(const QString &path, const QString &pcm, int bits, int channels)
{
    QByteArray out;
    if (pcm != "quorvel_capture") {
        for (qint32 v : testaudio::decoded<qint32>(path)) {
            char bytes[4];
            qToLittleEndian<qint32>(v, bytes);
            out.append(bytes + 4 - bits / 8, bits / 8);
        }
    } else if (path.endsWith(".flac") || path.endsWith(".mp3")) {
        const std::vector<float> frames = testaudio::decoded<float>(path);
        out = QByteArray(reinterpret_cast<const char *>(frames.data()), qsizetype(frames.size() * 4));
    } else {
        out = testaudio::rawData(path);
        out.chop(out.size() % (bits / 8 * channels)); // an odd chunk's pad byte is no frame
    }
    return out;
}

void removeFiles(QDir dir)
{
    for (const QString &old : dir.entryList(QDir::Files))
        dir.remove(old);
}

} // namespace

Q_DECLARE_METATYPE(FailureKind)

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

    // Takes the name (over from its owner, after a granted request, with
    // `replace`) and opens the card.
    bool hold(bool openPcm, bool replace = false)
    {
        if (openPcm && snd_pcm_open(&m_pcm, "quorvel_dac_card", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
            return false;
        m_bus.registerObject(kReservationPath, this, QDBusConnection::ExportAllSlots);
        const auto how = replace ? QDBusConnectionInterface::ReplaceExistingService
                                 : QDBusConnectionInterface::DontQueueService;
        return m_bus.interface()->registerService(kReservation, how, QDBusConnectionInterface::AllowReplacement)
               == QDBusConnectionInterface::ServiceRegistered;
    }
    // Asks the name's owner for the card as a program with `priority` does;
    // the owner's answer, and whether the card was closed when it came.
    std::pair<bool, bool> askForCard(int priority)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kReservation, kReservationPath,
                                                           "org.freedesktop.ReserveDevice1", "RequestRelease");
        call << priority;
        QDBusPendingCallWatcher answer(m_bus.asyncCall(call));
        bool answered = false, closedBeforeAnswer = false;
        connect(&answer, &QDBusPendingCallWatcher::finished, this, [&] {
            answered = true;
            snd_pcm_t *pcm = nullptr;
            closedBeforeAnswer = snd_pcm_open(&pcm, "quorvel_dac_card", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) == 0;
            if (pcm)
                snd_pcm_close(pcm);
        });
        if (!QTest::qWaitFor([&] { return answered; }))
            return {false, false};
        const QDBusPendingReply<bool> reply = answer;
        return {reply.isValid() && reply.value(), closedBeforeAnswer};
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

// Whose the reservation name is now, by unique name; empty when nobody's.
static QString reservationOwner()
{
    return QDBusConnection::sessionBus().interface()->serviceOwner(kReservation).value();
}

class AlsaTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void listsOnlyPcmsThatKeepSamples();
    void deviceReceivesExactly_data();
    void deviceReceivesExactly();
    void albumsPlayAsOneStream_data();
    void albumsPlayAsOneStream();
    void aRefusedOrLostDeviceLeavesIdle_data();
    void aRefusedOrLostDeviceLeavesIdle();
    void theDacGoesOnWhereTheListenerAsked_data();
    void theDacGoesOnWhereTheListenerAsked();
    void cardIsReservedOnTheSessionBus_data();
    void cardIsReservedOnTheSessionBus();
    void aCardAskedForAgainGoesOnWhereTheSoundWas_data();
    void aCardAskedForAgainGoesOnWhereTheSoundWas();
    void aCardPlaysWithoutASessionBus();

private:
    bool playToEnd(const QString &pcm, const QString &path);
    std::unique_ptr<QTemporaryDir> m_dir = testaudio::makeTempDir();
    PrivateBus m_bus;
};

void AlsaTest::initTestCase()
{
    alsarig::install(m_dir->path());
#if defined(__SANITIZE_ADDRESS__)
    __sanitizer_install_malloc_and_free_hooks(countRenderThreadAllocation, [](const volatile void *) {});
    // The counter sees allocations on a thread of that name.
    std::thread probe([] {
        pthread_setname_np(pthread_self(), "quorvel-render");
        int *volatile p = new int(1);
        delete p;
    });
    probe.join();
    QVERIFY(g_renderThreadAllocations.load() >= 1);
#endif
    // A session bus of the test's own, before anything connects to one.
    m_bus.start(m_dir->path());
    QVERIFY(QDBusConnection::sessionBus().isConnected());
}

void AlsaTest::cleanupTestCase()
{
    m_bus.stop();
}

bool AlsaTest::playToEnd(const QString &pcm, const QString &path)
{
    Rig rig(m_dir->path(), pcm);
    rig.player.playBitPerfect(QUrl::fromLocalFile(path));
    return rig.player.isPlaying() && QTest::qWaitFor([&] { return !rig.player.isPlaying(); }, 20000);
}

// Every other test finds its PCM by the id its name gives. The list follows
// the card's device nodes as they come and go.
void AlsaTest::listsOnlyPcmsThatKeepSamples()
{
    const QString nodes = m_dir->filePath("snd");
    AlsaAudioPlatform platform(nullptr, nodes);
    QStringList names;
    const std::optional<QList<PlaybackDevice>> listed = platform.devices();
    QVERIFY(listed);
    for (const PlaybackDevice &d : *listed)
        names << d.name;
    for (const char *expected : {"Quorvel capture", "Quorvel test DAC", "Quorvel hw alias"})
        QVERIFY2(names.contains(expected), qPrintable(names.join(", ")));
    QVERIFY(!names.contains("Quorvel converter"));
    QVERIFY(!names.contains("Discard all samples (playback) or generate zero samples (capture)"));

    QSignalSpy changed(&platform, &AudioPlatform::devicesChanged);
    QFile node(nodes + "/pcmC0D0p");
    const std::function<bool()> changes[] = {[&] { return QDir().mkdir(nodes); }, // the first card appears
                                             [&] { return node.open(QIODevice::WriteOnly); },
                                             [&] { return node.remove(); }};
    for (const auto &change : changes) {
        changed.clear();
        QVERIFY(change());
        QTRY_VERIFY(changed.count() >= 1);
    }
    QVERIFY(QDir(nodes).removeRecursively()); // the other tests run without the node folder
}

// One row per layout the capture PCM is opened in, and per conversion the
// restricted DACs need; the rate never changes a path, so rows vary it only
// to show the device is opened at the track's own.
void AlsaTest::deviceReceivesExactly_data()
{
    QTest::addColumn<QString>("pcm");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QString>("opened"); // what ALSA names in the capture file
    QTest::addColumn<bool>("rounded");
    const auto row = [](const char *tag, const char *pcm, int format, int rate, int channels, const char *alsa,
                        bool rounded = false) {
        QTest::newRow(tag) << pcm << format << rate << channels << alsa << rounded;
    };
    const char *capture = "quorvel_capture", *dac = "quorvel_dac", *intDac = "quorvel_dac_int";
    row("wav u8 44.1k mono", capture, SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 44100, 1, "8-U8");
    row("aiff s8 48k mono", capture, SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 48000, 1, "8-S8");
    row("aiff-c sowt 88.2k stereo", capture, SF_FORMAT_AIFF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE, 88200, 2,
        "16-S16_LE");
    row("aiff 16 44.1k stereo", capture, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 44100, 2, "16-S16_BE");
    row("wavex 24 96k 6ch", capture, SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 96000, 6, "24-S24_3LE");
    row("aiff 24 96k stereo", capture, SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 96000, 2, "24-S24_3BE");
    row("wav 32 176.4k stereo", capture, SF_FORMAT_WAV | SF_FORMAT_PCM_32, 176400, 2, "32-S32_LE");
    row("aiff 32 192k 6ch", capture, SF_FORMAT_AIFF | SF_FORMAT_PCM_32, 192000, 6, "32-S32_BE");
    row("flac 24 96k 6ch", capture, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 96000, 6, "32-FLOAT_LE");
    row("aiff-c float 48k stereo", capture, SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 48000, 2, "32-FLOAT_BE");
    row("wav double 352.8k mono", capture, SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 352800, 1, "64-FLOAT64_LE");
    // The DAC takes S16_LE and S32_LE: integers widened, swapped, and decoded
    // ones given back as the integers they were.
    row("dac: wav u8 widened", dac, SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 48000, 1, "16-S16_LE");
    row("dac: wav 24 widened", dac, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2, "32-S32_LE");
    row("dac: aiff 24 widened and swapped", dac, SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 96000, 2, "32-S32_LE");
    row("dac: flac 16", dac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, "16-S16_LE");
    row("dac: flac 24 widened", dac, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 192000, 2, "32-S32_LE");
    // A DAC of integers only (S16_LE, S24_3LE, S32_LE): integers in the
    // narrowest layout that holds them, true floats rounded once to the widest.
    row("int dac: aiff 24 swapped", intDac, SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 44100, 2, "24-S24_3LE");
    row("int dac: flac 24", intDac, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 192000, 2, "24-S24_3LE");
    row("int dac: wav double rounded", intDac, SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 192000, 2, "32-S32_LE", true);
    row("int dac: aiff float rounded", intDac, SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 96000, 2, "32-S32_LE", true);
}

void AlsaTest::deviceReceivesExactly()
{
    QFETCH(QString, pcm);
    QFETCH(int, format);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(QString, opened);
    QFETCH(bool, rounded);
    const bool capture = pcm == "quorvel_capture";
    const QDir captures(m_dir->filePath(capture ? "capture" : "dac"));
    removeFiles(captures);
    const QString path = m_dir->filePath("track." + testaudio::extension(format));
    testaudio::writeTrack(path, {format, rate, channels, rate / 16 + 3, testaudio::Signal::Noise});
    g_renderThreadAllocations.store(0);
    QVERIFY(playToEnd(pcm, path));
    // Counted under the address sanitizer only: no other hook sees every allocation.
    QCOMPARE(g_renderThreadAllocations.load(), 0);

    // One open, at the track's rate and channels.
    const QString prefix = capture ? "cap" : pcm == "quorvel_dac" ? "dac" : "int";
    const QString name = QStringLiteral("%1-%2-%3-%4.raw").arg(prefix).arg(rate).arg(channels).arg(opened);
    QCOMPARE(captures.entryList(QDir::Files), QStringList{name});
    const QByteArray received = testfiles::readAll(captures.filePath(name));
    const int bits = opened.section('-', 0, 0).toInt();
    const QByteArray expected = rounded ? testaudio::roundedLittleEndian(testaudio::decoded<double>(path), bits)
                                        : unchangedValues(path, pcm, bits, channels);
    QVERIFY(!expected.isEmpty() && received.size() >= expected.size());
    QVERIFY2(std::memcmp(received.constData(), expected.constData(), std::size_t(expected.size())) == 0,
             "the device received other values");
    // Only the padding of the last period follows, as silence.
    const char silence = opened.endsWith("U8") ? '\x80' : '\0';
    QCOMPARE(received.mid(expected.size()), QByteArray(received.size() - expected.size(), silence));
}

// Through the real-time test DAC: tracks of one format reach the device back
// to back in one stream; a change of rate ends one stream and opens another,
// each exact.
void AlsaTest::albumsPlayAsOneStream_data()
{
    QTest::addColumn<QList<int>>("rates");
    QTest::addColumn<QStringList>("streams"); // capture file per stream, in order
    QTest::newRow("three tracks at 44.1k") << QList<int>{44100, 44100, 44100}
                                           << QStringList{"dac-44100-2-16-S16_LE.raw"};
    QTest::newRow("44.1k then 96k") << QList<int>{44100, 96000}
                                    << QStringList{"dac-44100-2-16-S16_LE.raw", "dac-96000-2-16-S16_LE.raw"};
}

void AlsaTest::albumsPlayAsOneStream()
{
    QFETCH(QList<int>, rates);
    QFETCH(QStringList, streams);
    const QDir captures(m_dir->filePath("dac"));
    removeFiles(captures);
    QList<QUrl> album;
    for (qsizetype i = 0; i < rates.size(); ++i) {
        const QString path = m_dir->filePath(QStringLiteral("album-%1.wav").arg(i));
        // Longer than the device buffer, so the next track is in memory before
        // the render thread reaches the end of this one.
        testaudio::Recipe recipe{SF_FORMAT_WAV | SF_FORMAT_PCM_16, rates[i], 2, rates[i] / 2 + 3 * int(i),
                                 testaudio::Signal::Noise};
        recipe.seed = quint32(i + 1);
        testaudio::writeTrack(path, recipe);
        album << QUrl::fromLocalFile(path);
    }

    Rig rig(m_dir->path(), "quorvel_dac");
    BitPerfectAudioPlayer &player = rig.player;
    qsizetype playing = 0;
    const auto preloadFollowing = [&] {
        player.preloadNext(playing + 1 < album.size() ? album[playing + 1] : QUrl());
    };
    QObject::connect(&player, &BitPerfectAudioPlayer::advancedToNext, [&] {
        QCOMPARE(player.currentURL(), album[++playing]);
        preloadFollowing();
    });
    QObject::connect(&player, &BitPerfectAudioPlayer::isPlayingChanged, [&] {
        // A track of another format follows the end of the stream, from memory.
        if (!player.isPlaying() && playing + 1 < album.size()) {
            QCOMPARE(player.preloadedURL(), album[playing + 1]);
            player.playBitPerfect(album[++playing]);
            preloadFollowing();
        }
    });
    player.playBitPerfect(album[0]);
    preloadFollowing();
    QVERIFY(player.isPlaying());
    QTRY_VERIFY_WITH_TIMEOUT(!player.isPlaying() && playing == album.size() - 1, 20000);

    QCOMPARE(captures.entryList(QDir::Files, QDir::Name), streams);
    qsizetype track = 0;
    for (const QString &name : streams) {
        const QByteArray captured = testfiles::readAll(captures.filePath(name));
        QByteArray stream;
        const int rate = rates[track];
        while (track < rates.size() && rates[track] == rate)
            stream += testaudio::rawData(album[track++].toLocalFile());
        QVERIFY2(captured.startsWith(stream), qPrintable(name));
        // Only the padding of the last period follows, as silence.
        QCOMPARE(captured.mid(stream.size()), QByteArray(captured.size() - stream.size(), '\0'));
    }
}

// However playback ends, the player is Idle and says why, and a card's
// reservation goes back to the desktop while the program stays up.
void AlsaTest::aRefusedOrLostDeviceLeavesIdle_data()
{
    QTest::addColumn<QString>("pcm");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("rate");
    QTest::addColumn<FailureKind>("failure");
    using F = FailureKind;
    const int wav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    QTest::newRow("rate the DAC lacks") << "quorvel_dac" << wav16 << 22050 << F::RateRefused;
    // Integers are never rounded: a wider source than the DAC takes is refused.
    QTest::newRow("24-bit wav on 16 bits") << "quorvel_dac_s16" << (SF_FORMAT_WAV | SF_FORMAT_PCM_24) << 48000 << F::FormatRefused;
    QTest::newRow("24-bit flac on 16 bits") << "quorvel_dac_s16" << (SF_FORMAT_FLAC | SF_FORMAT_PCM_24) << 48000 << F::FormatRefused;
    QTest::newRow("busy") << "quorvel_dac_busy" << wav16 << 48000 << F::DeviceBusy;
    QTest::newRow("absent hw card") << "quorvel_hw_alias" << wav16 << 48000 << F::DeviceGone;
    // With no device to take over, the player stops and says why.
    QTest::newRow("unplugged mid-track") << "quorvel_dac_unplug" << wav16 << 48000 << F::DeviceLost;
    QTest::newRow("card: the last track played out") << "quorvel_dac_card" << wav16 << 48000 << F::None;
    QTest::newRow("card: a rate it lacks") << "quorvel_dac_card" << wav16 << 22050 << F::RateRefused;
    QTest::newRow("card: lost mid-track") << "quorvel_dac_card_unplug" << wav16 << 48000 << F::DeviceLost;
}

void AlsaTest::aRefusedOrLostDeviceLeavesIdle()
{
    QFETCH(QString, pcm);
    QFETCH(int, format);
    QFETCH(int, rate);
    QFETCH(FailureKind, failure);
    const QString path = m_dir->filePath("refused." + testaudio::extension(format));
    testaudio::writeTrack(path, {format, rate, 2, rate / 2});
    Rig rig(m_dir->path(), pcm);
    rig.player.playBitPerfect(QUrl::fromLocalFile(path));
    if (pcm.contains("card"))
        QCOMPARE(reservationOwner(), QDBusConnection::sessionBus().baseService());
    QTRY_VERIFY(!rig.player.isPlaying() && !rig.player.isLoading());
    QVERIFY(!rig.player.isPaused());
    QCOMPARE(rig.player.sampleRate() == 0.0, failure != FailureKind::None);
    QVERIFY(!rig.platform.holdsExclusiveUse(rig.id));
    QCOMPARE(rig.player.failure().kind, failure);
    QTRY_VERIFY(reservationOwner().isEmpty());
}

// A pause drops what waits in the device buffer, and a seek takes back what
// the device still holds of the old position: either way the DAC plays the
// track up to where the sound stopped, then goes on from the paused frame or
// the seek's target, so that no part goes unheard and none is heard late.
void AlsaTest::theDacGoesOnWhereTheListenerAsked_data()
{
    QTest::addColumn<bool>("seek"); // else a pause and a resume
    QTest::newRow("pause, resume") << false;
    QTest::newRow("seek") << true;
}

void AlsaTest::theDacGoesOnWhereTheListenerAsked()
{
    QFETCH(bool, seek);
    const QString path = m_dir->filePath("onwards.wav");
    testaudio::writeTrack(path, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 48000 * 2, testaudio::Signal::Noise});
    const QString record = m_dir->filePath("dac-received.raw");
    Rig rig(m_dir->path(), "quorvel_dac");
    BitPerfectAudioPlayer &player = rig.player;
    player.playBitPerfect(QUrl::fromLocalFile(path));
    QTRY_VERIFY(QFileInfo(record).size() >= 48000 * 4 / 2);
    const qint64 rendered = player.currentFrame();
    qint64 from = 72000;
    if (seek) {
        player.seek(1.5);
    } else {
        player.pause();
        from = player.currentFrame();
        player.resume();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!player.isPlaying(), 10000);

    const QByteArray heard = testfiles::readAll(record), raw = testaudio::rawData(path);
    const qsizetype jump = heard.lastIndexOf(raw.mid(from * 4, 4096));
    QVERIFY(jump > 0 && jump % 4 == 0);
    QVERIFY2(heard.left(jump) == raw.left(jump), "the DAC played other frames before the jump");
    QVERIFY2(heard.mid(jump).startsWith(raw.mid(from * 4)), "the DAC did not go on from where it was asked");
    const QString where = QStringLiteral("jumped at %1 to %2, %3 rendered").arg(jump / 4).arg(from).arg(rendered);
    if (seek) // more than a period of what was queued when the seek came never sounded
        QVERIFY2(jump / 4 + 48000 / 50 < rendered, qPrintable(where));
    else // what the pause dropped, at most a buffer and a period, sounds again
        QVERIFY2(from < jump / 4 && jump / 4 - from <= 48000 * 3 / 10, qPrintable(where));
}

void AlsaTest::cardIsReservedOnTheSessionBus_data()
{
    QTest::addColumn<bool>("grants");
    QTest::newRow("a holder that grants") << true;
    QTest::newRow("a holder that refuses") << false;
}

void AlsaTest::cardIsReservedOnTheSessionBus()
{
    QFETCH(bool, grants);
    const QString path = m_dir->filePath("reserved.wav");
    testaudio::writeTrack(path, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 48000 * 4});
    const QString record = m_dir->filePath("card-received.raw");
    QFile::remove(record);
    const QString ours = QDBusConnection::sessionBus().baseService();
    const auto holder = std::make_unique<StandInHolder>(m_bus.address(), grants);
    // A refusing holder leaves the PCM free, so that an open would show.
    QVERIFY(holder->hold(grants));
    QCOMPARE(reservationOwner(), holder->bus().baseService());

    Rig rig(m_dir->path(), "quorvel_dac_card");
    BitPerfectAudioPlayer &player = rig.player;
    player.playBitPerfect(QUrl::fromLocalFile(path));
    QCOMPARE(player.state(), BitPerfectAudioPlayer::PlaybackState::WaitingForDevice); // asked, no answer yet
    QTRY_VERIFY(!player.isLoading());
    QCOMPARE(holder->requests(), QList<int>{10});
    if (!grants) {
        QVERIFY(!player.isPlaying());
        QCOMPARE(player.failure().kind, FailureKind::DeviceBusy);
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
        const auto [granted, closedBeforeAnswer] = holder->askForCard(priority);
        QCOMPARE(granted, priority > DeviceReservation::kPriority);
        QCOMPARE(closedBeforeAnswer, priority > DeviceReservation::kPriority);
        QCOMPARE(player.isPlaying(), priority <= DeviceReservation::kPriority);
    }
    // The requester takes the name over, as the protocol has it.
    QCOMPARE(holder->bus().interface()->registerService(kReservation, QDBusConnectionInterface::ReplaceExistingService,
                                                       QDBusConnectionInterface::AllowReplacement).value(),
             QDBusConnectionInterface::ServiceRegistered);
    QCOMPARE(player.failure().kind, FailureKind::DeviceTaken);
}

// A card a sound server holds is asked for again, the track shown as
// loading meanwhile, and the sound goes on there exactly where it was: after
// a pause during which the server asked for the card (a claim below ours,
// granted while silent, the card closed before the answer), after a move
// from another device, or where a seek made while waiting points.
void AlsaTest::aCardAskedForAgainGoesOnWhereTheSoundWas_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("resumed after the server took it") << "pause";
    QTest::newRow("moved onto it") << "move";
    QTest::newRow("moved onto it, a seek while waiting") << "seek";
}

void AlsaTest::aCardAskedForAgainGoesOnWhereTheSoundWas()
{
    QFETCH(QString, how);
    const QString path = m_dir->filePath("again.wav");
    testaudio::writeTrack(path, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 48000 * 2, testaudio::Signal::Noise});
    const QString card = m_dir->filePath("card-received.raw");
    const QString first = how == "pause" ? card : m_dir->filePath("dac-received.raw");
    QFile::remove(card);
    const auto holder = std::make_unique<StandInHolder>(m_bus.address(), true);
    QVERIFY(how == "pause" || holder->hold(true));
    Rig rig(m_dir->path(), how == "pause" ? "quorvel_dac_card" : "quorvel_dac");
    BitPerfectAudioPlayer &player = rig.player;
    player.playBitPerfect(QUrl::fromLocalFile(path));
    QTRY_VERIFY(QFileInfo(first).size() >= 48000);

    qint64 from = 0;
    if (how == "pause") {
        player.pause();
        from = player.currentFrame();
        QCOMPARE(holder->askForCard(0), std::make_pair(true, true));
        QVERIFY(holder->hold(true, true));
        QVERIFY(player.isPaused());
        player.resume();
    } else {
        player.setOutputDevice(deviceIdForPcm("quorvel_dac_card"));
        from = player.currentFrame();
        QVERIFY(from > 0 && from <= QFileInfo(first).size() / 4); // where the sound stopped
    }
    QCOMPARE(player.state(), BitPerfectAudioPlayer::PlaybackState::WaitingForDevice);
    if (how == "seek") {
        player.seek(1.5);
        from = 72000;
    }
    QTRY_VERIFY(player.isPlaying());
    QCOMPARE(holder->requests(), QList<int>{DeviceReservation::kPriority});
    QVERIFY(!holder->pcmOpen());
    QTRY_VERIFY_WITH_TIMEOUT(!player.isPlaying(), 10000);
    QVERIFY2(testfiles::readAll(card).startsWith(testaudio::rawData(path).mid(from * 4)),
             "the card did not go on where the track was");
}

// Qt keeps the session bus a process first asked for, found or not, for the
// rest of its life, so the check without one comes last, once the bus is gone.
void AlsaTest::aCardPlaysWithoutASessionBus()
{
    m_bus.stop();
    QTRY_VERIFY(!QDBusConnection::sessionBus().isConnected());
    const QString path = m_dir->filePath("nobus.wav");
    testaudio::writeTrack(path, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 4800});
    Rig rig(m_dir->path(), "quorvel_dac_card");
    rig.player.playBitPerfect(QUrl::fromLocalFile(path));
    QVERIFY(rig.player.isPlaying());
    QVERIFY(!rig.platform.holdsCardReservation(alsarig::kReservedCard));
}

QTEST_GUILESS_MAIN(AlsaTest)
#include "tst_engine_alsa.moc"
