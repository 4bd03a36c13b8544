// The output unit against a restricted DAC (an ALSA external plugin built for
// the tests): lossless widening and byte swapping, refused starts, a device
// that vanishes mid-track, and a render thread that never allocates.
#include "AlsaAudioPlatform.h"
#include "AlsaTestRig.h"
#include "BitPerfectAudioPlayer.h"
#include "TestAudio.h"

#include <QDir>
#include <QTest>
#include <QtEndian>
#include <atomic>
#include <cstring>
#include <ctime>
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

qint64 processCpuMilliseconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What a device of `width` bytes must receive: libsndfile's left-aligned
// integers, cut to the device's width, little-endian.
QByteArray valueIdentical(const QString &path, int width)
{
    QByteArray out;
    for (qint32 v : testaudio::decodedInt(path)) {
        char bytes[4];
        qToLittleEndian<qint32>(v, bytes);
        out.append(bytes + 4 - width, width);
    }
    return out;
}

} // namespace

class AlsaDacTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void restrictedDacGetsValueIdenticalSamples_data();
    void restrictedDacGetsValueIdenticalSamples();
    void refusedStartsLeaveIdle_data();
    void refusedStartsLeaveIdle();
    void unplugStopsRenderingQuietly();
    void pauseResumesWhereTheSoundStopped();
    void renderThreadAllocatesNothing();

private:
    bool playToEnd(const QString &pcm, const QString &path);
    std::unique_ptr<QTemporaryDir> m_dir = testaudio::makeTempDir();
};

void AlsaDacTest::initTestCase()
{
    QString error;
    QVERIFY2(alsarig::install(m_dir->path(), &error), qPrintable(error));
    installAllocationCounter();
}

bool AlsaDacTest::playToEnd(const QString &pcm, const QString &path)
{
    AlsaAudioPlatform platform(nullptr, m_dir->filePath("snd"));
    BitPerfectAudioPlayer player(platform, BitPerfectAudioPlayer::LoadMode::Inline);
    player.setOutputDevice(deviceIdForPcm(pcm.toUtf8()));
    player.playBitPerfect(QUrl::fromLocalFile(path));
    if (!player.isPlaying())
        return false;
    return QTest::qWaitFor([&] { return !player.isPlaying(); }, 20000);
}

void AlsaDacTest::restrictedDacGetsValueIdenticalSamples_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("opened");
    const auto row = [](const char *tag, int format, int rate, int channels, const char *ext, const char *alsa) {
        QTest::newRow(tag) << format << rate << channels << ext << alsa;
    };
    row("wav 16 stays", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 6, "wav", "16-S16_LE");
    row("wav 24 widened", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2, "wav", "32-S32_LE");
    row("wav u8 widened", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 48000, 1, "wav", "16-S16_LE");
    row("aiff 16 swapped", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 44100, 1, "aiff", "16-S16_LE");
    row("aiff 24 widened and swapped", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 96000, 2, "aiff", "32-S32_LE");
    row("aiff 32 swapped", SF_FORMAT_AIFF | SF_FORMAT_PCM_32, 44100, 2, "aiff", "32-S32_LE");
    row("flac 16 as integers", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, "flac", "16-S16_LE");
    row("flac 24 as integers", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 192000, 2, "flac", "32-S32_LE");
}

void AlsaDacTest::restrictedDacGetsValueIdenticalSamples()
{
    QFETCH(int, format);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(QString, extension);
    QFETCH(QString, opened);
    QDir named(m_dir->filePath("dac"));
    for (const QString &old : named.entryList(QDir::Files))
        QVERIFY(named.remove(old));
    const QString path = m_dir->filePath("track." + extension);
    QVERIFY(testaudio::write(path, {format, rate, channels, rate / 8 + 3, testaudio::Signal::Noise}));

    QVERIFY(playToEnd("quorvel_dac", path));
    QCOMPARE(named.entryList(QDir::Files),
             QStringList{QStringLiteral("dac-%1-%2-%3.raw").arg(rate).arg(channels).arg(opened)});
    const QByteArray received = readAll(m_dir->filePath("dac-received.raw"));
    const QByteArray expected = valueIdentical(path, opened.section('-', 0, 0).toInt() / 8);
    QVERIFY(received.size() >= expected.size());
    QVERIFY2(received.left(expected.size()) == expected, "the DAC received other values");
    QCOMPARE(received.mid(expected.size()), QByteArray(received.size() - expected.size(), '\0'));
}

void AlsaDacTest::refusedStartsLeaveIdle_data()
{
    QTest::addColumn<QString>("pcm");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("rate");
    QTest::addColumn<QString>("extension");
    QTest::newRow("rate the DAC lacks") << "quorvel_dac" << (SF_FORMAT_WAV | SF_FORMAT_PCM_16) << 22050 << "wav";
    QTest::newRow("no lossless layout") << "quorvel_dac" << (SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III) << 48000 << "mp3";
    QTest::newRow("float the DAC lacks") << "quorvel_dac" << (SF_FORMAT_WAV | SF_FORMAT_FLOAT) << 48000 << "wav";
    QTest::newRow("busy") << "quorvel_dac_busy" << (SF_FORMAT_WAV | SF_FORMAT_PCM_16) << 48000 << "wav";
    QTest::newRow("absent hw card") << "quorvel_hw_alias" << (SF_FORMAT_WAV | SF_FORMAT_PCM_16) << 48000 << "wav";
}

void AlsaDacTest::refusedStartsLeaveIdle()
{
    QFETCH(QString, pcm);
    QFETCH(int, format);
    QFETCH(int, rate);
    QFETCH(QString, extension);
    const QString path = m_dir->filePath("refused." + extension);
    QVERIFY(testaudio::write(path, {format, rate, 2, rate / 10}));
    AlsaAudioPlatform platform(nullptr, m_dir->filePath("snd"));
    BitPerfectAudioPlayer player(platform, BitPerfectAudioPlayer::LoadMode::Inline);
    const quint32 id = deviceIdForPcm(pcm.toUtf8());
    player.setOutputDevice(id);
    player.playBitPerfect(QUrl::fromLocalFile(path));
    QVERIFY(!player.isPlaying());
    QVERIFY(!player.isPaused());
    QCOMPARE(player.duration(), 0.0);
    QCOMPARE(player.sampleRate(), 0.0);
    QVERIFY(!platform.holdsExclusiveUse(id));
}

void AlsaDacTest::unplugStopsRenderingQuietly()
{
    const QString path = m_dir->filePath("long.wav");
    QVERIFY(testaudio::write(path, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 48000 * 3}));
    const QString record = m_dir->filePath("unplug-received.raw");
    AlsaAudioPlatform platform(nullptr, m_dir->filePath("snd"));
    BitPerfectAudioPlayer player(platform, BitPerfectAudioPlayer::LoadMode::Inline);
    player.setOutputDevice(deviceIdForPcm("quorvel_dac_unplug"));
    player.playBitPerfect(QUrl::fromLocalFile(path));
    QVERIFY(player.isPlaying());
    QTRY_VERIFY(QFileInfo(record).size() >= alsarig::kUnplugAfterFrames * 4);

    // Rendering has stopped for good and nothing spins in its place.
    QTest::qWait(100);
    const qint64 size = QFileInfo(record).size();
    const qint64 cpuBefore = processCpuMilliseconds();
    QTest::qWait(400);
    QCOMPARE(QFileInfo(record).size(), size);
    QVERIFY2(processCpuMilliseconds() - cpuBefore < 200, "a thread keeps spinning after the unplug");
    QVERIFY(size < 48000 * 4);
    player.stop();
    QVERIFY(!player.isPlaying());
}

// A pause drops what waits in the device buffer; the resume must replay it,
// so that no part of the track goes unheard.
void AlsaDacTest::pauseResumesWhereTheSoundStopped()
{
    const QString path = m_dir->filePath("pause.wav");
    QVERIFY(testaudio::write(path, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 48000, testaudio::Signal::Noise}));
    const QString record = m_dir->filePath("dac-received.raw");
    AlsaAudioPlatform platform(nullptr, m_dir->filePath("snd"));
    BitPerfectAudioPlayer player(platform, BitPerfectAudioPlayer::LoadMode::Inline);
    player.setOutputDevice(deviceIdForPcm("quorvel_dac"));
    player.playBitPerfect(QUrl::fromLocalFile(path));
    QTRY_VERIFY(QFileInfo(record).size() >= 48000 * 4 / 2);
    player.pause();
    const qint64 received = QFileInfo(record).size() / 4;
    QVERIFY(player.currentFrame() < received);
    QVERIFY(received - player.currentFrame() <= 48000 * 3 / 10); // at most a buffer and a period

    const qint64 resumeAt = player.currentFrame();
    player.resume();
    QTRY_VERIFY_WITH_TIMEOUT(!player.isPlaying(), 5000);
    const QByteArray raw = testaudio::rawData(path);
    const QByteArray all = readAll(record);
    QCOMPARE(all.mid(received * 4, raw.size() - resumeAt * 4), raw.mid(resumeAt * 4));
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
    QVERIFY(testaudio::write(wav, {SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2, 12000}));
    QVERIFY(testaudio::write(flac, {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, 44100}));
    QVERIFY(playToEnd("quorvel_dac", wav));        // widening on the render thread
    QVERIFY(playToEnd("quorvel_capture", flac));   // the track's own layout
    QCOMPARE(g_renderThreadAllocations.load(), 0);
}

QTEST_GUILESS_MAIN(AlsaDacTest)
#include "tst_engine_alsa_dac.moc"
