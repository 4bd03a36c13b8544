// The loader's state machine on real files: which requests start a task, what
// each outcome leaves in the caches, what reaches standard output, how many
// decoders run at once, and that a decoder stuck for good costs one URL, not
// the pool or the quit. Where a test holds a task back, it does so at a gate
// around the real extraction.
#include "GatedExtraction.h"
#include "StdoutCapture.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "WaveformLoader.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>
#include <future>

namespace {

enum class Track { Wav, Flac, NoFrames, NotAudio, Missing };

// What the extraction itself makes of the file now: the waveform, or the line
// its failure writes.
WaveformResult extract(const QUrl &url)
{
    return makeWaveformData(url, WaveformLoader::maxWaveformSamples);
}
QList<double> samplesOf(const QUrl &url)
{
    const WaveformResult result = extract(url);
    return std::holds_alternative<LoadedWaveform>(result) ? std::get<LoadedWaveform>(result).samples
                                                          : QList<double>{-1.0};
}
QByteArray errorLineFor(const QUrl &url)
{
    const WaveformResult result = extract(url);
    if (!std::holds_alternative<WaveformError>(result))
        return "(the extraction did not fail)";
    return "Waveform error: " + std::get<WaveformError>(result).description.toUtf8() + '\n';
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

// A loader whose extractions pass a gate, opened before the loader's
// destructor waits for its tasks, so a failing check leaves no worker stuck.
struct GatedLoader
{
    explicit GatedLoader(int threads, GatedExtraction::Gate gate = GatedExtraction::Gate::BeforeDecoding)
        : extraction(gate), loader(extraction.extractor(), threads)
    {
    }
    ~GatedLoader() { extraction.open(); }

    GatedExtraction extraction;
    WaveformLoader loader;
};

// Puts a real file of `kind` in the test's folder.
struct Files
{
    QUrl add(const QString &name, Track kind)
    {
        const QString path = dir->filePath(name);
        switch (kind) {
        case Track::Wav: return testaudio::writeTrack(path);
        case Track::Flac: return testaudio::writeTrack(path, {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000, 1, 9600});
        case Track::NoFrames: return testaudio::writeTrack(path, {.frames = 0});
        case Track::NotAudio: testfiles::writeAll(path, QByteArray(4096, 'x')); break;
        case Track::Missing: break;
        }
        return QUrl::fromLocalFile(path);
    }
    std::unique_ptr<QTemporaryDir> dir = testaudio::makeTempDir();
};

} // namespace

Q_DECLARE_METATYPE(Track)
Q_DECLARE_METATYPE(GatedExtraction::Gate)

class WaveformLoaderTest : public QObject
{
    Q_OBJECT

private slots:
    void deduplicatesRequests();
    void onlyFailuresAreRetried_data();
    void onlyFailuresAreRetried();
    void completionAfterReset_data();
    void completionAfterReset();
    void staleTaskLeavesNewerRequestLoading();
    void cancelledQueuedTasksNeverStart();
    void manyFilesUseAtMostThePool();
    void stuckDecoderIsAbandoned();
};

// Further requests, queued or while the first one decodes, and one after it
// stored, start nothing.
void WaveformLoaderTest::deduplicatesRequests()
{
    Files files;
    const QUrl url = files.add("track", Track::Flac);
    GatedLoader gated(2);
    WaveformLoader &loader = gated.loader;
    QSignalSpy changed(&loader, &WaveformLoader::waveformChanged);
    loader.loadWaveform(url);
    loader.loadWaveform(url);
    QVERIFY(loader.isLoading(url));
    QTRY_COMPARE(gated.extraction.arrivals().size(), 1);
    loader.loadWaveform(url);
    gated.extraction.open();
    loader.waitForTasks();
    QCOMPARE(loader.samplesFor(url), samplesOf(url));
    QCOMPARE(changed.count(), 1);
    loader.loadWaveform(url);
    loader.waitForTasks();
    QCOMPARE(gated.extraction.arrivals().size(), 1);
}

void WaveformLoaderTest::onlyFailuresAreRetried_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<Track>("track");
    QTest::newRow("missing") << "missing.flac" << Track::Missing;
    QTest::newRow("not audio") << "notes.mp3" << Track::NotAudio;
    QTest::newRow("no frames") << "silent.wav" << Track::NoFrames;
}

// A failure writes one line and stores nothing, so the next request decodes
// again and succeeds once the file is good. A file without frames is a
// result: stored empty, no line, and kept when the file later holds audio.
void WaveformLoaderTest::onlyFailuresAreRetried()
{
    QFETCH(QString, name);
    QFETCH(Track, track);
    Files files;
    const QUrl url = files.add(name, track);
    const bool fails = track != Track::NoFrames;
    const QByteArray line = fails ? errorLineFor(url) : QByteArray();
    WaveformLoader loader;
    QSignalSpy changed(&loader, &WaveformLoader::waveformChanged);
    for (int round = 0; round < 2; ++round) {
        QCOMPARE(logOf(loader, [&] { loader.loadWaveform(url); }), line);
        QVERIFY(!loader.isLoading(url));
        QCOMPARE(loader.hasWaveform(url), !fails);
    }
    QCOMPARE(changed.count(), fails ? 0 : 1);

    const QString path = url.toLocalFile();
    QVERIFY(!QFileInfo::exists(path) || QFile::remove(path));
    QVERIFY(testaudio::write(path, {name.endsWith(".flac") ? SF_FORMAT_FLAC | SF_FORMAT_PCM_16
                                                           : SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III}));
    QCOMPARE(logOf(loader, [&] { loader.loadWaveform(url); }), QByteArray());
    QCOMPARE(loader.samplesFor(url), fails ? samplesOf(url) : QList<double>());
    QCOMPARE(changed.count(), 1);
}

// What loadPlaylist does to running tasks: cancel, then reset the caches;
// and a reset alone, after which a finished task still lands in the caches.
void WaveformLoaderTest::completionAfterReset_data()
{
    using Gate = GatedExtraction::Gate;
    QTest::addColumn<Track>("track");
    QTest::addColumn<Gate>("gate");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<bool>("stored");
    QTest::addColumn<bool>("logged");
    QTest::newRow("cancel, decoder sees it") << Track::Wav << Gate::BeforeDecoding << true << false << false;
    QTest::newRow("cancel, decoder had finished") << Track::Wav << Gate::AfterDecoding << true << false << false;
    QTest::newRow("reset only, success") << Track::Flac << Gate::AfterDecoding << false << true << false;
    QTest::newRow("reset only, failure") << Track::Missing << Gate::BeforeDecoding << false << false << true;
}

void WaveformLoaderTest::completionAfterReset()
{
    QFETCH(Track, track);
    QFETCH(GatedExtraction::Gate, gate);
    QFETCH(bool, cancel);
    QFETCH(bool, stored);
    QFETCH(bool, logged);
    Files files;
    const QUrl url = files.add("track", track);
    GatedLoader gated(2, gate);
    WaveformLoader &loader = gated.loader;
    loader.loadWaveform(url);
    QTRY_COMPARE(gated.extraction.arrivals().size(), 1);
    if (cancel)
        loader.cancelWaveformLoading();
    loader.resetCaches();
    QVERIFY(loader.loadingWaveforms().isEmpty());
    // Nothing can end, so nothing can be written, before the gate opens.
    const QByteArray written = logOf(loader, [&] { gated.extraction.open(); });
    QCOMPARE(loader.samplesFor(url), stored ? samplesOf(url) : QList<double>());
    QCOMPARE(loader.waveformDurationsByURL().contains(url), stored);
    QVERIFY(loader.loadingWaveforms().isEmpty());
    QCOMPARE(written, logged ? errorLineFor(url) : QByteArray());
}

// A task from before a reset ends after the same URL was requested again:
// the newer request stays loading and is the only one that stores.
void WaveformLoaderTest::staleTaskLeavesNewerRequestLoading()
{
    Files files;
    const QUrl url = files.add("a.flac", Track::Flac);
    GatedLoader gated(1);
    WaveformLoader &loader = gated.loader;
    QSignalSpy changed(&loader, &WaveformLoader::waveformChanged);
    loader.loadWaveform(url);
    QTRY_COMPARE(gated.extraction.arrivals().size(), 1);
    loader.cancelWaveformLoading();
    loader.resetCaches();
    loader.loadWaveform(url);
    gated.extraction.release(1);
    // With one worker, the newer task reaches the gate only after the older
    // one posted its end.
    QTRY_COMPARE(gated.extraction.arrivals().size(), 2);
    QCoreApplication::sendPostedEvents(&loader, QEvent::MetaCall);
    QVERIFY(loader.isLoading(url));
    QVERIFY(!loader.hasWaveform(url));
    loader.loadWaveform(url);
    gated.extraction.open();
    loader.waitForTasks();
    QCOMPARE(gated.extraction.arrivals().size(), 2);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(loader.samplesFor(url), samplesOf(url));
}

// Cancelling leaves the loading set alone; each task's end clears its URL,
// and a task still waiting for a worker never reaches the decoder, so neither
// the broken file nor the good one is ever read.
void WaveformLoaderTest::cancelledQueuedTasksNeverStart()
{
    Files files;
    const QList<QUrl> urls{files.add("running.wav", Track::Wav), files.add("broken.mp3", Track::NotAudio),
                           files.add("queued.flac", Track::Flac)};
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

// A big folder: every waveform arrives, and no more decoders than cores are
// ever alive at once, however many workers are asked for. The gate stays shut
// until every worker is inside, so the bound is reached, not merely kept.
void WaveformLoaderTest::manyFilesUseAtMostThePool()
{
    Files files;
    const int cores = QThread::idealThreadCount(), count = 4 * cores + 1;
    QList<QUrl> urls;
    for (int i = 0; i < count; ++i)
        urls.append(files.add(QStringLiteral("track%1.flac").arg(i), Track::Flac));
    GatedLoader gated(count);
    WaveformLoader &loader = gated.loader;
    for (const QUrl &url : urls)
        loader.loadWaveform(url);
    QTRY_COMPARE(gated.extraction.inside(), cores);
    gated.extraction.open();
    loader.waitForTasks();
    QCOMPARE(loader.waveformSamplesByURL().size(), count);
    QCOMPARE(gated.extraction.mostInside(), cores);
}

// A decoder stuck inside a library call sees no cancellation. After the stall
// limit its URL fails with one line, a fresh worker takes the next track
// although the pool has one, and the loader's destruction does not wait for
// the workers still stuck.
void WaveformLoaderTest::stuckDecoderIsAbandoned()
{
    Files files;
    const QUrl stuck = files.add("stuck.wav", Track::Wav), next = files.add("next.flac", Track::Flac);
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
