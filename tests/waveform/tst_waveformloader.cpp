// The loader's state machine on real files: which requests start a task, what
// each outcome leaves in the caches, what reaches standard output, how many
// decoders run at once, and that a decoder stuck for good costs one URL, not
// the pool or the quit. Every extraction is the real one; where a test needs
// to hold a task back, it does so at a gate around it.
#include "GatedExtraction.h"
#include "StdoutCapture.h"
#include "TestAudio.h"
#include "WaveformLoader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>
#include <future>

namespace {

enum class Track {
    Wav,          // 0.1 s of a stereo tone, 16-bit WAV
    Flac,         // 0.2 s of mono noise, 24-bit FLAC
    NoFrames,     // a valid WAV holding no frames
    NotAudio,     // 4 KB of text under an audio name
    Missing,      // nothing at the path
};

// Puts a real file of `kind` at `path`.
bool place(const QString &path, Track kind)
{
    using testaudio::Signal;
    switch (kind) {
    case Track::Wav:
        return testaudio::write(path, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 4410, Signal::Tone});
    case Track::Flac:
        return testaudio::write(path, {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000, 1, 9600, Signal::Noise});
    case Track::NoFrames:
        return testaudio::write(path, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 0});
    case Track::NotAudio: {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(QByteArray(4096, 'x')) == 4096;
    }
    case Track::Missing:
        return !QFileInfo::exists(path);
    }
    return false;
}

// Replaces whatever is at `path` by a good track of the kind its name says.
bool repair(const QString &path)
{
    const int format = path.endsWith(".flac") ? SF_FORMAT_FLAC | SF_FORMAT_PCM_16
                                              : SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    return (!QFileInfo::exists(path) || QFile::remove(path)) && testaudio::write(path, {format, 44100, 2, 4410});
}

WaveformResult extract(const QUrl &url)
{
    return makeWaveformData(url, WaveformLoader::maxWaveformSamples);
}

// What the extraction itself makes of the file now; a failure gives values no
// extraction yields (negative), so comparing a stored waveform with it fails.
LoadedWaveform waveformOf(const QUrl &url)
{
    const WaveformResult result = extract(url);
    return std::holds_alternative<LoadedWaveform>(result) ? std::get<LoadedWaveform>(result)
                                                          : LoadedWaveform{{-1.0}, -1.0};
}

QByteArray errorLineFor(const QUrl &url)
{
    const WaveformResult result = extract(url);
    if (!std::holds_alternative<WaveformError>(result))
        return "(the extraction did not fail)";
    return "Waveform error: " + std::get<WaveformError>(result).description.toUtf8() + '\n';
}

// Requests `url` and returns what reached standard output until every task
// ended. The capture ends before any check, so the test's own messages stay
// on standard output.
QByteArray requestAndLog(WaveformLoader &loader, const QUrl &url)
{
    StdoutCapture output;
    loader.loadWaveform(url);
    loader.waitForTasks();
    return output.text();
}

// A loader whose extractions pass a gate. The gate is opened before the
// loader's destructor waits for its tasks, so a failing check never leaves a
// worker stuck there.
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

} // namespace

Q_DECLARE_METATYPE(Track)
Q_DECLARE_METATYPE(GatedExtraction::Gate)

class WaveformLoaderTest : public QObject
{
    Q_OBJECT

private slots:
    void deduplicatesRequests();
    void failedUrlIsRetried_data();
    void failedUrlIsRetried();
    void emptyResultIsNotRetried();
    void completionAfterReset_data();
    void completionAfterReset();
    void staleTaskLeavesNewerRequestLoading_data();
    void staleTaskLeavesNewerRequestLoading();
    void cancelledQueuedTasksNeverStart();
    void manyFilesUseAtMostThePool();
    void stuckDecoderIsAbandoned();
};

// Further requests, queued or while the first one decodes, and one after it
// stored, start nothing.
void WaveformLoaderTest::deduplicatesRequests()
{
    auto dir = testaudio::makeTempDir();
    const QString path = dir->filePath("track");
    QVERIFY(place(path, Track::Flac));
    const QUrl url = QUrl::fromLocalFile(path);
    GatedLoader gated(2);
    WaveformLoader &loader = gated.loader;
    QSignalSpy loading(&loader, &WaveformLoader::loadingChanged);
    QSignalSpy changed(&loader, &WaveformLoader::waveformChanged);
    loader.loadWaveform(url);
    loader.loadWaveform(url);
    QVERIFY(loader.isLoading(url));
    QCOMPARE(loading.count(), 1);
    QTRY_COMPARE(gated.extraction.arrivals().size(), 1);
    loader.loadWaveform(url);
    gated.extraction.open();
    loader.waitForTasks();
    QCOMPARE(gated.extraction.arrivals().size(), 1);
    QVERIFY(!loader.isLoading(url));
    const LoadedWaveform expected = waveformOf(url);
    QVERIFY(!expected.samples.isEmpty());
    QCOMPARE(loader.samplesFor(url), expected.samples);
    QCOMPARE(loader.durationFor(url), expected.duration);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(loading.count(), 2);
    loader.loadWaveform(url);
    QVERIFY(!loader.isLoading(url));
    loader.waitForTasks();
    QCOMPARE(gated.extraction.arrivals().size(), 1);
}

void WaveformLoaderTest::failedUrlIsRetried_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<Track>("track");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "missing.flac" << Track::Missing << "the file does not exist";
    QTest::newRow("not audio") << "notes.mp3" << Track::NotAudio << "not a readable";
}

// Each failed request writes exactly one line and stores nothing; the next
// request decodes the file again, and succeeds once the file is good.
void WaveformLoaderTest::failedUrlIsRetried()
{
    QFETCH(QString, name);
    QFETCH(Track, track);
    QFETCH(QString, reason);
    auto dir = testaudio::makeTempDir();
    const QString path = dir->filePath(name);
    QVERIFY(place(path, track));
    const QUrl url = QUrl::fromLocalFile(path);
    const QByteArray line = errorLineFor(url);
    QVERIFY2(line.contains(QDir::toNativeSeparators(path).toUtf8()) && line.contains(reason.toUtf8()),
             line.constData());
    WaveformLoader loader;

    QCOMPARE(requestAndLog(loader, url), line);
    QVERIFY(!loader.isLoading(url));
    QVERIFY(!loader.hasWaveform(url));
    QVERIFY(!loader.waveformDurationsByURL().contains(url));

    QCOMPARE(requestAndLog(loader, url), line);
    QVERIFY(!loader.isLoading(url));

    QVERIFY(repair(path));
    QCOMPARE(requestAndLog(loader, url), QByteArray());
    QVERIFY(!loader.isLoading(url));
    QCOMPARE(loader.samplesFor(url), waveformOf(url).samples);
    QCOMPARE(loader.durationFor(url), waveformOf(url).duration);
}

// A file without frames is a result, not a failure: stored empty, no line, and
// kept even when the file later holds audio.
void WaveformLoaderTest::emptyResultIsNotRetried()
{
    auto dir = testaudio::makeTempDir();
    const QString path = dir->filePath("silent");
    QVERIFY(place(path, Track::NoFrames));
    const QUrl url = QUrl::fromLocalFile(path);
    WaveformLoader loader;
    QSignalSpy changed(&loader, &WaveformLoader::waveformChanged);
    QCOMPARE(requestAndLog(loader, url), QByteArray());
    QVERIFY(loader.hasWaveform(url));
    QVERIFY(loader.samplesFor(url).isEmpty());
    QVERIFY(loader.waveformDurationsByURL().contains(url));
    QCOMPARE(loader.durationFor(url), 0.0);
    QCOMPARE(changed.count(), 1);
    QVERIFY(!loader.isLoading(url));

    QVERIFY(repair(path));
    loader.loadWaveform(url);
    QVERIFY(!loader.isLoading(url));
    loader.waitForTasks();
    QVERIFY(loader.samplesFor(url).isEmpty());
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
    QTest::newRow("cancel, decoder fails") << Track::NotAudio << Gate::BeforeDecoding << true << false << false;
    QTest::newRow("reset only, success") << Track::Flac << Gate::BeforeDecoding << false << true << false;
    QTest::newRow("reset only, without frames") << Track::NoFrames << Gate::AfterDecoding << false << true << false;
    QTest::newRow("reset only, failure") << Track::Missing << Gate::BeforeDecoding << false << false << true;
}

void WaveformLoaderTest::completionAfterReset()
{
    QFETCH(Track, track);
    QFETCH(GatedExtraction::Gate, gate);
    QFETCH(bool, cancel);
    QFETCH(bool, stored);
    QFETCH(bool, logged);
    auto dir = testaudio::makeTempDir();
    const QString path = dir->filePath("track");
    QVERIFY(place(path, track));
    const QUrl url = QUrl::fromLocalFile(path);
    GatedLoader gated(2, gate);
    WaveformLoader &loader = gated.loader;
    QSignalSpy reset(&loader, &WaveformLoader::cachesReset);
    loader.loadWaveform(url);
    QTRY_COMPARE(gated.extraction.arrivals().size(), 1);
    if (cancel)
        loader.cancelWaveformLoading();
    loader.resetCaches();
    QCOMPARE(reset.count(), 1);
    QVERIFY(loader.loadingWaveforms().isEmpty());
    // Nothing can end, so nothing can be written, before the gate opens.
    StdoutCapture output;
    gated.extraction.open();
    loader.waitForTasks();
    const QByteArray written = output.text(); // and the capture ends
    QCOMPARE(loader.hasWaveform(url), stored);
    QCOMPARE(loader.waveformDurationsByURL().contains(url), stored);
    if (stored)
        QCOMPARE(loader.samplesFor(url), waveformOf(url).samples);
    QVERIFY(loader.loadingWaveforms().isEmpty());
    QCOMPARE(written, logged ? errorLineFor(url) : QByteArray());
}

void WaveformLoaderTest::staleTaskLeavesNewerRequestLoading_data()
{
    QTest::addColumn<bool>("cancelFirst");
    QTest::newRow("cancel, reset, request again") << true;
    QTest::newRow("reset, request again") << false;
}

// A task from before a reset ends after the same URL was requested again:
// the newer request stays loading and is the only one that stores.
void WaveformLoaderTest::staleTaskLeavesNewerRequestLoading()
{
    QFETCH(bool, cancelFirst);
    auto dir = testaudio::makeTempDir();
    const QString path = dir->filePath("a.flac");
    QVERIFY(place(path, Track::Flac));
    const QUrl url = QUrl::fromLocalFile(path);
    GatedLoader gated(1);
    WaveformLoader &loader = gated.loader;
    QSignalSpy changed(&loader, &WaveformLoader::waveformChanged);
    loader.loadWaveform(url);
    QTRY_COMPARE(gated.extraction.arrivals().size(), 1);
    if (cancelFirst)
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
    QCOMPARE(loader.samplesFor(url), waveformOf(url).samples);
    QVERIFY(!loader.isLoading(url));
}

// Cancelling leaves the loading set alone; each task's end clears its URL,
// and a task still waiting for a worker never reaches the decoder, so neither
// the broken file nor the good one is ever read.
void WaveformLoaderTest::cancelledQueuedTasksNeverStart()
{
    auto dir = testaudio::makeTempDir();
    QList<QUrl> urls;
    for (const auto &[name, track] : {std::pair{"running.wav", Track::Wav}, std::pair{"broken.mp3", Track::NotAudio},
                                      std::pair{"queued.flac", Track::Flac}}) {
        QVERIFY(place(dir->filePath(name), track));
        urls.append(QUrl::fromLocalFile(dir->filePath(name)));
    }
    GatedLoader gated(1);
    WaveformLoader &loader = gated.loader;
    QSignalSpy changed(&loader, &WaveformLoader::waveformChanged);
    for (const QUrl &url : urls)
        loader.loadWaveform(url);
    QTRY_COMPARE(gated.extraction.arrivals().size(), 1);
    loader.cancelWaveformLoading();
    QCOMPARE(loader.loadingWaveforms().size(), 3);
    StdoutCapture output;
    gated.extraction.open();
    loader.waitForTasks();
    const QByteArray written = output.text(); // and the capture ends
    QCOMPARE(gated.extraction.arrivals(), QList<QUrl>({urls[0]}));
    QVERIFY(loader.loadingWaveforms().isEmpty());
    QVERIFY(loader.waveformSamplesByURL().isEmpty());
    QCOMPARE(changed.count(), 0);
    QCOMPARE(written, QByteArray());
}

// A folder of hundreds of tracks: every waveform arrives, and no more
// decoders than cores are ever alive at once, however many workers are asked
// for. The gate stays shut until every worker is inside, so the bound is
// reached, not merely kept.
void WaveformLoaderTest::manyFilesUseAtMostThePool()
{
    auto dir = testaudio::makeTempDir();
    QList<QUrl> urls;
    for (int i = 0; i < 60; ++i) {
        const bool flac = i % 2;
        const QString path = dir->filePath(QStringLiteral("track%1.%2").arg(i).arg(flac ? "flac" : "wav"));
        const int format = flac ? SF_FORMAT_FLAC | SF_FORMAT_PCM_16 : SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        QVERIFY(testaudio::write(path, {format, 44100, 2, 2000 + i}));
        urls.append(QUrl::fromLocalFile(path));
    }
    const int cores = QThread::idealThreadCount();
    GatedLoader gated(60);
    WaveformLoader &loader = gated.loader;
    QSignalSpy changed(&loader, &WaveformLoader::waveformChanged);
    for (const QUrl &url : urls)
        loader.loadWaveform(url);
    QCOMPARE(loader.maxThreadCount(), cores);
    QTRY_COMPARE(gated.extraction.inside(), cores);
    gated.extraction.open();
    QTRY_COMPARE_WITH_TIMEOUT(loader.waveformSamplesByURL().size(), 60, 120000);
    QCOMPARE(changed.count(), 60);
    QVERIFY(loader.loadingWaveforms().isEmpty());
    QCOMPARE(gated.extraction.mostInside(), cores);
    for (int i = 0; i < 60; ++i) {
        const int frames = 2000 + i;
        const int bucketSize = frames / 500;
        QCOMPARE(loader.samplesFor(urls[i]).size(), (frames + bucketSize - 1) / bucketSize);
        QCOMPARE(loader.durationFor(urls[i]), frames / 44100.0);
    }
}

// A decoder stuck inside a library call sees no cancellation. After the stall
// limit its URL fails with one line, a fresh worker takes the next track
// although the pool has one, and the loader's destruction does not wait for
// the workers still stuck.
void WaveformLoaderTest::stuckDecoderIsAbandoned()
{
    auto dir = testaudio::makeTempDir();
    const QUrl stuck = QUrl::fromLocalFile(dir->filePath("stuck.wav"));
    const QUrl next = QUrl::fromLocalFile(dir->filePath("next.flac"));
    QVERIFY(place(stuck.toLocalFile(), Track::Wav) && place(next.toLocalFile(), Track::Flac));
    auto unstick = std::make_shared<std::promise<void>>();
    auto stuckCalls = std::make_shared<std::atomic<int>>(0);
    const auto extractor = [stuck, stuckCalls, released = unstick->get_future().share()](
                               const QUrl &url, int maxSamples, const CancellationCheck &isCancelled) {
        if (url == stuck && ++*stuckCalls)
            released.wait();
        return makeWaveformData(url, maxSamples, isCancelled);
    };
    auto loader = std::make_unique<WaveformLoader>(extractor, 1, nullptr, std::chrono::milliseconds(1000));
    StdoutCapture output;
    loader->loadWaveform(stuck);
    loader->loadWaveform(next);
    loader->waitForTasks();
    const QByteArray written = output.text(); // and the capture ends
    QVERIFY2(written.startsWith("Waveform error: ") && written.contains("stuck.wav") && written.count('\n') == 1,
             written.constData());
    QVERIFY(!loader->hasWaveform(stuck) && !loader->isLoading(stuck));
    QCOMPARE(loader->samplesFor(next), waveformOf(next).samples);

    loader->loadWaveform(stuck);
    QTRY_COMPARE(stuckCalls->load(), 2);
    loader.reset();
    unstick->set_value();
}

QTEST_GUILESS_MAIN(WaveformLoaderTest)
#include "tst_waveformloader.moc"
