// The loader's state machine on real files: which requests start a task, what
// each outcome leaves in the caches, and that a decoder stuck for good costs
// one URL, not the pool or the quit.
#include "StdoutCapture.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TrackLoader.h"
#include "WaveformLoader.h"

#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <condition_variable>
#include <future>
#include <mutex>

namespace {

// The real extraction behind a gate before the decoding, so the decoder sees any
// cancellation given meanwhile; standard primitives, which the thread sanitizer sees into.
struct GatedExtraction
{
    WaveformLoader::Extractor extractor()
    {
        return [this](const QUrl &url, int maxSamples, const CancellationCheck &isCancelled) {
            std::unique_lock lock(mutex);
            arrived.append(url);
            changed.wait(lock, [this] { return permits > 0; });
            --permits;
            lock.unlock();
            return makeWaveformData(url, maxSamples, isCancelled);
        };
    }

    // Lets `count` more calls through; open() lets every call through.
    void release(int count)
    {
        const std::lock_guard lock(mutex);
        permits += count;
        changed.notify_all();
    }
    void open() { release(1 << 20); }
    QList<QUrl> arrivals() // the URLs that reached the gate
    {
        const std::lock_guard lock(mutex);
        return arrived;
    }

    std::mutex mutex;
    std::condition_variable changed;
    int permits = 0;
    QList<QUrl> arrived;
};

// What the extraction itself makes of the file now.
QList<double> samplesOf(const QUrl &url)
{
    const WaveformResult result = makeWaveformData(url, WaveformLoader::maxWaveformSamples);
    return std::holds_alternative<LoadedWaveform>(result) ? std::get<LoadedWaveform>(result).samples
                                                          : QList<double>{-1.0};
}

// Runs `work` and returns what reached standard output until every task ended.
// The capture ends before any check, so the test's own messages stay visible.
template<typename Work>
QByteArray logOf(WaveformLoader &loader, Work work)
{
    StdoutCapture output;
    work();
    loader.waitForTasks();
    return output.text();
}

// The gate opens before the loader's destructor waits: a failing check strands no worker.
struct GatedLoader
{
    explicit GatedLoader(int threads) : loader(extraction.extractor(), threads) {}
    ~GatedLoader() { extraction.open(); }

    GatedExtraction extraction;
    WaveformLoader loader;
};

// Real files in the test's folder.
struct Files
{
    QUrl flac(const QString &name)
    {
        return testaudio::writeTrack(dir->filePath(name), {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000, 1, 9600});
    }
    QUrl wav(const QString &name) { return testaudio::writeTrack(dir->filePath(name)); }
    std::unique_ptr<QTemporaryDir> dir = testaudio::makeTempDir();
};

} // namespace

class WaveformLoaderTest : public QObject
{
    Q_OBJECT

private slots:
    void aURLDecodesOnceForItsNewestRequest_data();
    void aURLDecodesOnceForItsNewestRequest();
    void cancelledQueuedTasksNeverStart();
    void nothingStartsWhileATrackLoadsToPlay_data();
    void nothingStartsWhileATrackLoadsToPlay();
    void stuckDecoderIsAbandoned();
};

// The same URL asked for again while queued, while decoding and once stored
// starts nothing. After a reset the task from before it ends after the newer
// request: that one stays loading and is the only one that stores.
void WaveformLoaderTest::aURLDecodesOnceForItsNewestRequest_data()
{
    QTest::addColumn<bool>("reset");
    QTest::newRow("asked again") << false;
    QTest::newRow("asked again after a reset") << true;
}

void WaveformLoaderTest::aURLDecodesOnceForItsNewestRequest()
{
    QFETCH(bool, reset);
    Files files;
    const QUrl url = files.flac("track.flac");
    GatedLoader gated(reset ? 1 : 2);
    WaveformLoader &loader = gated.loader;
    QSignalSpy changed(&loader, &WaveformLoader::waveformChanged);
    loader.loadWaveform(url);
    loader.loadWaveform(url);
    QVERIFY(loader.isLoading(url));
    QTRY_COMPARE(gated.extraction.arrivals().size(), 1);
    if (reset) {
        loader.cancelWaveformLoading();
        loader.resetCaches();
        loader.loadWaveform(url);
        gated.extraction.release(1);
        // With one worker, the newer task reaches the gate only after the older one posted its end.
        QTRY_COMPARE(gated.extraction.arrivals().size(), 2);
        QCoreApplication::sendPostedEvents(&loader, QEvent::MetaCall);
        QVERIFY(loader.isLoading(url) && !loader.hasWaveform(url));
    }
    loader.loadWaveform(url);
    gated.extraction.open();
    loader.waitForTasks();
    QCOMPARE(loader.samplesFor(url), samplesOf(url));
    QCOMPARE(changed.count(), 1);
    loader.loadWaveform(url);
    loader.waitForTasks();
    QCOMPARE(gated.extraction.arrivals().size(), reset ? 2 : 1);
}

// Cancelling leaves the loading set alone; each task's end clears its URL, and
// a task still waiting for a worker never reaches the decoder nor reads its file.
void WaveformLoaderTest::cancelledQueuedTasksNeverStart()
{
    Files files;
    const QUrl broken = QUrl::fromLocalFile(files.dir->filePath("broken.mp3"));
    QVERIFY(testfiles::writeAll(broken.toLocalFile(), QByteArray(4096, 'x')));
    const QList<QUrl> urls{files.wav("running.wav"), broken, files.flac("queued.flac")};
    GatedLoader gated(1);
    WaveformLoader &loader = gated.loader;
    QSignalSpy changed(&loader, &WaveformLoader::waveformChanged);
    for (const QUrl &url : urls)
        loader.loadWaveform(url);
    QTRY_COMPARE(gated.extraction.arrivals().size(), 1);
    loader.cancelWaveformLoading();
    QCOMPARE(loader.loadingWaveforms().size(), 3);
    QCOMPARE(logOf(loader, [&] { gated.extraction.open(); }), QByteArray());
    QCOMPARE(gated.extraction.arrivals(), QList<QUrl>({urls[0]}));
    QVERIFY(loader.loadingWaveforms().isEmpty());
    QVERIFY(loader.waveformSamplesByURL().isEmpty());
    QCOMPARE(changed.count(), 0);
}

void WaveformLoaderTest::nothingStartsWhileATrackLoadsToPlay_data()
{
    QTest::addColumn<bool>("inMemory");
    QTest::newRow("the load ends") << false;
    QTest::newRow("the track reaches memory") << true;
}

// While a track is read to play the pool waits; once the track is in memory
// its waveform comes from there and the pool never decodes the file.
void WaveformLoaderTest::nothingStartsWhileATrackLoadsToPlay()
{
    QFETCH(bool, inMemory);
    Files files;
    GatedLoader gated(1);
    gated.extraction.open();
    gated.loader.yieldToPlayback(true);
    const QUrl url = files.wav("loading.wav");
    gated.loader.loadWaveform(url, WaveformLoader::Priority::Playing);
    QTest::qWait(50); // an idle worker would have taken it by now, were it let
    QCOMPARE(gated.loader.queuedURLs(), QList<QUrl>{url});
    if (inMemory) {
        TrackLoad load = loadTrack(QFile::encodeName(url.toLocalFile()));
        auto *track = std::get_if<LoadedTrack>(&load);
        QVERIFY(track);
        gated.loader.loadWaveformFromMemory(
            url, {std::make_shared<const TrackBlock>(std::move(track->block)), track->format, track->totalFrames});
    }
    gated.loader.yieldToPlayback(false);
    QTRY_VERIFY(gated.loader.hasWaveform(url));
    gated.loader.waitForTasks();
    QCOMPARE(gated.loader.samplesFor(url), samplesOf(url));
    QCOMPARE(gated.extraction.arrivals().size(), inMemory ? 0 : 1);
}

// A decoder stuck inside a library call sees no cancellation. After the stall
// limit its URL fails with one line, a fresh worker takes the next track, and
// the loader's destruction does not wait for the workers still stuck.
void WaveformLoaderTest::stuckDecoderIsAbandoned()
{
    Files files;
    const QUrl stuck = files.wav("stuck.wav"), next = files.flac("next.flac");
    auto unstick = std::make_shared<std::promise<void>>();
    auto stuckCalls = std::make_shared<std::atomic<int>>(0);
    const auto extractor = [stuck, stuckCalls, released = unstick->get_future().share()](
                               const QUrl &url, int maxSamples, const CancellationCheck &isCancelled) {
        if (url == stuck && ++*stuckCalls)
            released.wait();
        return makeWaveformData(url, maxSamples, isCancelled);
    };
    auto loader = std::make_unique<WaveformLoader>(extractor, 1, nullptr, std::chrono::milliseconds(1000));
    const QByteArray written = logOf(*loader, [&] {
        loader->loadWaveform(stuck);
        loader->loadWaveform(next);
    });
    QVERIFY2(written.startsWith("Waveform error: ") && written.contains("stuck.wav") && written.count('\n') == 1,
             written.constData());
    QVERIFY(!loader->hasWaveform(stuck) && !loader->isLoading(stuck));
    QCOMPARE(loader->samplesFor(next), samplesOf(next));

    loader->loadWaveform(stuck);
    QTRY_COMPARE(stuckCalls->load(), 2);
    loader.reset();
    unstick->set_value();
}

QTEST_GUILESS_MAIN(WaveformLoaderTest)
#include "tst_waveformloader.moc"
