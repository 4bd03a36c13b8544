// The loader's state machine: which requests start a task, what each outcome
// leaves in the caches, what reaches standard output, and how many decoders
// run at once.
#include "FakeExtraction.h"
#include "StdoutCapture.h"
#include "TestAudio.h"
#include "WaveformLoader.h"

#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

namespace {

const QUrl a = QUrl::fromLocalFile("/music/a.flac");
const QUrl b = QUrl::fromLocalFile("/music/b.flac");
const QUrl c = QUrl::fromLocalFile("/music/c.flac");

WaveformError failed(const QString &why)
{
    return {WaveformError::Failed, why};
}

} // namespace

class WaveformLoaderTest : public QObject
{
    Q_OBJECT

private slots:
    void deduplicatesRequests();
    void failedUrlIsRetried();
    void emptyResultIsNotRetried();
    void completionAfterReset_data();
    void completionAfterReset();
    void staleTaskLeavesNewerRequestLoading();
    void cancelledQueuedTasksNeverStart();
    void realFailuresLogOneLine_data();
    void realFailuresLogOneLine();
    void manyFilesUseAtMostThePool();
};

void WaveformLoaderTest::deduplicatesRequests()
{
    FakeExtraction fake;
    WaveformLoader loader(fake.extractor(), 2);
    QSignalSpy loading(&loader, &WaveformLoader::loadingChanged);
    QSignalSpy changed(&loader, &WaveformLoader::waveformChanged);
    loader.loadWaveform(a);
    loader.loadWaveform(a);
    QVERIFY(loader.isLoading(a));
    QCOMPARE(loading.count(), 1);
    QTRY_COMPARE(fake.calls().size(), 1);
    fake.open();
    loader.waitForTasks();
    QVERIFY(!loader.isLoading(a));
    QCOMPARE(loader.samplesFor(a), QList<double>({0.25, 0.5}));
    QCOMPARE(loader.durationFor(a), 2.0);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(loading.count(), 2);
    loader.loadWaveform(a);
    QVERIFY(!loader.isLoading(a));
    loader.waitForTasks();
    QCOMPARE(fake.calls().size(), 1);
}

void WaveformLoaderTest::failedUrlIsRetried()
{
    FakeExtraction fake;
    fake.script(a, failed("a.flac is broken"));
    fake.open();
    WaveformLoader loader(fake.extractor(), 2);
    StdoutCapture output;
    loader.loadWaveform(a);
    loader.waitForTasks();
    QCOMPARE(output.text(), QByteArray("Waveform error: a.flac is broken\n"));
    QVERIFY(!loader.isLoading(a));
    QVERIFY(!loader.hasWaveform(a));
    QCOMPARE(loader.durationFor(a), 0.0);
    loader.loadWaveform(a);
    loader.waitForTasks();
    QCOMPARE(fake.calls().size(), 2);
}

void WaveformLoaderTest::emptyResultIsNotRetried()
{
    FakeExtraction fake;
    fake.script(a, LoadedWaveform{});
    fake.open();
    WaveformLoader loader(fake.extractor(), 2);
    loader.loadWaveform(a);
    loader.waitForTasks();
    QVERIFY(loader.hasWaveform(a));
    QVERIFY(loader.samplesFor(a).isEmpty());
    loader.loadWaveform(a);
    loader.waitForTasks();
    QCOMPARE(fake.calls().size(), 1);
}

// What loadPlaylist does to running tasks: cancel, then reset the caches;
// and a reset alone, after which a finished task still lands in the caches.
void WaveformLoaderTest::completionAfterReset_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<bool>("decoderHonoursCancel");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<bool>("stored");
    QTest::addColumn<bool>("logged");
    QTest::newRow("cancel, decoder stops") << true << true << false << false << false;
    QTest::newRow("cancel, decoder still succeeds") << true << false << false << false << false;
    QTest::newRow("cancel, decoder still fails") << true << false << true << false << false;
    QTest::newRow("reset only, success") << false << false << false << true << false;
    QTest::newRow("reset only, failure") << false << false << true << false << true;
}

void WaveformLoaderTest::completionAfterReset()
{
    QFETCH(bool, cancel);
    QFETCH(bool, decoderHonoursCancel);
    QFETCH(bool, fails);
    QFETCH(bool, stored);
    QFETCH(bool, logged);
    FakeExtraction fake;
    fake.setCancellation(decoderHonoursCancel ? FakeExtraction::Cancellation::Honour
                                              : FakeExtraction::Cancellation::Ignore);
    if (fails)
        fake.script(a, failed("a.flac is broken"));
    WaveformLoader loader(fake.extractor(), 2);
    // A failing check must not leave a worker at the gate for the destructor to wait on.
    const auto openOnExit = qScopeGuard([&fake] { fake.open(); });
    QSignalSpy reset(&loader, &WaveformLoader::cachesReset);
    StdoutCapture output;
    loader.loadWaveform(a);
    QTRY_COMPARE(fake.calls().size(), 1);
    if (cancel)
        loader.cancelWaveformLoading();
    loader.resetCaches();
    QCOMPARE(reset.count(), 1);
    QVERIFY(loader.loadingWaveforms().isEmpty());
    fake.open();
    loader.waitForTasks();
    QCOMPARE(loader.hasWaveform(a), stored);
    QCOMPARE(loader.waveformDurationsByURL().contains(a), stored);
    QVERIFY(loader.loadingWaveforms().isEmpty());
    QCOMPARE(output.text().startsWith("Waveform error: "), logged);
}

// A task cancelled by a reset ends after the same URL was requested again:
// the newer request stays loading and is the only one that stores.
void WaveformLoaderTest::staleTaskLeavesNewerRequestLoading()
{
    FakeExtraction fake;
    WaveformLoader loader(fake.extractor(), 1);
    const auto openOnExit = qScopeGuard([&fake] { fake.open(); });
    loader.loadWaveform(a);
    QTRY_COMPARE(fake.calls().size(), 1);
    loader.cancelWaveformLoading();
    loader.resetCaches();
    loader.loadWaveform(a);
    // With one worker, the second call starts only after the first task posted its end.
    QTRY_COMPARE(fake.calls().size(), 2);
    QCoreApplication::sendPostedEvents(&loader, QEvent::MetaCall);
    QVERIFY(loader.isLoading(a));
    loader.loadWaveform(a);
    fake.open();
    loader.waitForTasks();
    QCOMPARE(fake.calls().size(), 2);
    QVERIFY(loader.hasWaveform(a));
    QVERIFY(!loader.isLoading(a));
}

void WaveformLoaderTest::cancelledQueuedTasksNeverStart()
{
    FakeExtraction fake;
    WaveformLoader loader(fake.extractor(), 1);
    QSignalSpy changed(&loader, &WaveformLoader::waveformChanged);
    StdoutCapture output;
    for (const QUrl &url : {a, b, c})
        loader.loadWaveform(url);
    QTRY_COMPARE(fake.calls().size(), 1);
    loader.cancelWaveformLoading();
    // Cancelling leaves the loading set alone; each task's end clears its URL.
    QCOMPARE(loader.loadingWaveforms().size(), 3);
    fake.open();
    loader.waitForTasks();
    QCOMPARE(fake.calls(), QList<QUrl>({a}));
    QVERIFY(loader.loadingWaveforms().isEmpty());
    QCOMPARE(changed.count(), 0);
    QVERIFY(output.text().isEmpty());
}

void WaveformLoaderTest::realFailuresLogOneLine_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // "-" for no file at all
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "missing.flac" << QByteArray("-") << "the file does not exist";
    QTest::newRow("not audio") << "notes.mp3" << QByteArray(4096, 'x') << "not a readable";
}

void WaveformLoaderTest::realFailuresLogOneLine()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    auto dir = testaudio::makeTempDir();
    const QString path = dir->filePath(name);
    if (content != "-") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    WaveformLoader loader;
    StdoutCapture output;
    loader.loadWaveform(QUrl::fromLocalFile(path));
    loader.waitForTasks();
    const QString text = QString::fromUtf8(output.text());
    QVERIFY2(text.startsWith("Waveform error: ") && text.count('\n') == 1 && text.endsWith('\n'),
             qPrintable(text));
    QVERIFY2(text.contains(path) && text.contains(reason), qPrintable(text));
    QVERIFY(loader.waveformSamplesByURL().isEmpty());
}

// A folder of hundreds of tracks: every waveform arrives, and no more
// decoders than workers are ever alive at once.
void WaveformLoaderTest::manyFilesUseAtMostThePool()
{
    auto dir = testaudio::makeTempDir();
    QList<QUrl> urls;
    for (int i = 0; i < 200; ++i) {
        const QString path = dir->filePath(QStringLiteral("track%1.wav").arg(i));
        QVERIFY(testaudio::write(path, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 2000 + i}));
        urls.append(QUrl::fromLocalFile(path));
    }
    std::atomic<int> alive = 0;
    std::atomic<int> mostAlive = 0;
    const auto counting = [&](const QUrl &url, int maxSamples, const CancellationCheck &isCancelled) {
        const int now = ++alive;
        for (int seen = mostAlive; now > seen && !mostAlive.compare_exchange_weak(seen, now);) {
        }
        const WaveformResult result = makeWaveformData(url, maxSamples, isCancelled);
        --alive;
        return result;
    };
    WaveformLoader loader(counting, QThread::idealThreadCount());
    QSignalSpy changed(&loader, &WaveformLoader::waveformChanged);
    for (const QUrl &url : urls)
        loader.loadWaveform(url);
    QTRY_COMPARE_WITH_TIMEOUT(loader.waveformSamplesByURL().size(), 200, 120000);
    QCOMPARE(changed.count(), 200);
    QVERIFY(loader.loadingWaveforms().isEmpty());
    QVERIFY(mostAlive <= loader.maxThreadCount());
    for (int i = 0; i < 200; ++i) {
        const int frames = 2000 + i;
        const int bucketSize = frames / 500;
        QCOMPARE(loader.samplesFor(urls[i]).size(), (frames + bucketSize - 1) / bucketSize);
        QCOMPARE(loader.durationFor(urls[i]), frames / 44100.0);
    }
}

QTEST_GUILESS_MAIN(WaveformLoaderTest)
#include "tst_waveformloader.moc"
