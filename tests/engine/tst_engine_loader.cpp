// Whole-track loading: a raw read gives the file's data chunk byte for byte,
// decoding gives libsndfile's float frames in a block no larger than they
// are, both however the track was split between threads; bad input of every
// kind ends in a clean refusal, without hanging, within the memory budget.
#include "HostileFiles.h"
#include "MemoryBudget.h"
#include "NowPlayingLabels.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TrackLoadWorker.h"
#include "TrackLoader.h"

#include <QFile>
#include <QTest>
#include <QtEndian>
#include <atomic>
#include <future>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <thread>

using testaudio::Signal;

namespace {

constexpr int flac16 = SF_FORMAT_FLAC | SF_FORMAT_PCM_16, flac24 = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
constexpr int wav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16, mp3 = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
constexpr int wav24 = SF_FORMAT_WAV | SF_FORMAT_PCM_24, aiff16 = SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
constexpr int aiff24 = SF_FORMAT_AIFF | SF_FORMAT_PCM_24;

std::optional<LoadedTrack> load(const QString &path, QString *reason = nullptr)
{
    TrackLoad loaded = hostile::underWatchdog([path] { return loadTrack(QFile::encodeName(path)); });
    if (auto *track = std::get_if<LoadedTrack>(&loaded))
        return std::move(*track);
    if (reason) { // the words the now-playing card shows
        PlaybackFailure failure;
        failure.kind = failureOf(std::get<LoadProblem>(loaded));
        *reason = failureText(failure, {});
    }
    return std::nullopt;
}

qint64 framesLoaded(const QString &path, QString *reason = nullptr)
{
    const auto track = load(path, reason);
    return track ? track->totalFrames : -1;
}

// The samples a WAV's data chunk or an AIFF's SSND chunk holds, as stored.
QByteArray storedSamples(const QString &path, qsizetype bytes)
{
    const QByteArray file = testfiles::readAll(path);
    const bool aiff = file.startsWith("FORM");
    const qsizetype chunk = file.indexOf(aiff ? "SSND" : "data");
    return chunk < 0 ? QByteArray() : file.mid(chunk + (aiff ? 16 : 8), bytes);
}

QByteArray bytesOf(const TrackBlock &block)
{
    return QByteArray(reinterpret_cast<const char *>(block.data()), qsizetype(block.size()));
}

// A decoded track is libsndfile's one-pass decode of the file, sample for sample.
void compareWithOnePass(const LoadedTrack &track, const QString &path, const testaudio::Recipe &recipe, double keep)
{
    const std::vector<float> sequential = testaudio::decoded<float>(path);
    const auto decoded = qint64(sequential.size() / 2);
    const int format = recipe.format;
    const bool flac = (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC;
    if (keep < 1.0 && flac)
        QVERIFY(track.totalFrames > 100'000 && track.totalFrames <= decoded);
    else
        QCOMPARE(track.totalFrames, decoded);
    QCOMPARE(track.block.size(), std::size_t(track.totalFrames) * 8);
    QCOMPARE(int(track.format.integerSourceBits), (format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_24 ? 24
                                                  : flac ? 16 : 0);
    QVERIFY(std::memcmp(track.block.data(), sequential.data(), track.block.size()) == 0);
}

bool isRaw(int format)
{
    const int major = format & SF_FORMAT_TYPEMASK;
    return major == SF_FORMAT_WAV || major == SF_FORMAT_AIFF;
}

// A path this user cannot read: a file of mode 000, or for root (who reads
// those) a link to a write-only kernel attribute, which refuses every reader.
bool writeUnreadable(const QString &path)
{
    if (geteuid() != 0)
        return testfiles::writeAll(path, "RIFF") && QFile::setPermissions(path, {});
    const QString attribute = QStringLiteral("/sys/bus/platform/drivers_probe");
    return QFileInfo::exists(attribute) && QFile::link(attribute, path);
}

} // namespace

Q_DECLARE_METATYPE(testaudio::Recipe)

class LoaderTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void loadGivesTheFilesFrames_data();
    void loadGivesTheFilesFrames();
    void badInputIsRefused_data();
    void badInputIsRefused();
    void headerClaimingOver4GiBIsRefused();
    void memoryBudgetBoundsEveryLoad();
    void stopEndsTheLoadAndFreesItsMemory();
    void hungLoadIsAbandoned();

private:
    std::unique_ptr<QTemporaryDir> m_dir = testaudio::makeTempDir();
};

// No test may leave track memory behind, refused or not.
void LoaderTest::cleanup()
{
    setTrackMemoryCeiling(std::nullopt);
    QCOMPARE(TrackBlock::heldBytes(), 0u);
}

void LoaderTest::loadGivesTheFilesFrames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<testaudio::Recipe>("recipe");
    QTest::addColumn<double>("keep");    // the share of the file left after a cut
    QTest::addColumn<QString>("change"); // "no Xing" frame, an "ID3v2" tag put first, STREAMINFO claiming "twice"
    // SF_BITRATE_MODE_* (-1: libsndfile's), and the level from 0.0, the highest bitrate, to 1.0.
    const auto noise = [](int format, qint64 frames, int mode = -1, double level = 0.0) {
        return testaudio::Recipe{format, 44100, 2, frames, Signal::Noise, 1000.0, 1, mode, level};
    };
    const int cbr = SF_BITRATE_MODE_CONSTANT, vbr = SF_BITRATE_MODE_VARIABLE;
    // Read in parts, their bounds mid-frame: 9 and 12 bytes a frame.
    const auto channels = [](int format, int count, qint64 frames) {
        return testaudio::Recipe{format, 48000, count, frames, Signal::Noise};
    };
    QTest::newRow("wav 24, 3 channels") << "a.wav" << channels(wav24, 3, 1'000'003) << 1.0 << "";
    QTest::newRow("aiff 16, 6 channels") << "a.aiff" << channels(aiff16, 6, 800'001) << 1.0 << "";
    QTest::newRow("aiff 24, 3 channels") << "a.aif" << channels(aiff24, 3, 1'000'003) << 1.0 << "";
    // Cut in its second part: none of it plays.
    QTest::newRow("wav 16, 6 channels, cut") << "a.wav" << channels(wav16, 6, 800'001) << 0.75 << "";
    // Long enough to be decoded in parts on several threads.
    QTest::newRow("flac 24, long") << "a.flac" << noise(flac24, 1'100'003) << 1.0 << "";
    QTest::newRow("flac announcing twice its length") << "a.flac" << noise(flac16, 300'000) << 1.0 << "twice";
    // The frames decoded before the gap play; what a part after it gave does not.
    QTest::newRow("flac cut at three quarters") << "a.flac" << noise(flac16, 1'200'000) << 0.75 << "";
    // MP3 decoded in parts equals one pass, sample for sample, whatever the
    // encoder did; 32 kbit/s draws its bit reservoir from several frames back.
    QTest::newRow("mp3 cbr 320") << "a.mp3" << noise(mp3, 600'000, cbr, 0.0) << 1.0 << "";
    QTest::newRow("mp3 cbr 32") << "a.mp3" << noise(mp3, 600'000, cbr, 1.0) << 1.0 << "";
    QTest::newRow("mp3 vbr, Xing header") << "a.mp3" << noise(mp3, 600'000, vbr, 0.5) << 1.0 << "";
    // Without a frame count libsndfile takes the length its first frame's
    // bitrate suggests (here about four fifths of the stream) and ends there.
    QTest::newRow("mp3 vbr, no Xing header") << "a.mp3" << noise(mp3, 720'000, vbr, 0.0) << 1.0 << "no Xing";
    QTest::newRow("mp3 behind an ID3v2 tag, mixed case") << "a.Mp3" << noise(mp3, 600'000, cbr, 0.6) << 1.0 << "ID3v2";
    QTest::newRow("mp3 last frame cut") << "a.mp3" << noise(mp3, 600'000, vbr, 0.3) << 0.9995 << "";
    // Its header announces frames the stream no longer holds.
    QTest::newRow("mp3 cut at three quarters") << "a.mp3" << noise(mp3, 600'000, vbr, 0.5) << 0.75 << "";
    QTest::newRow("mp3 short") << "a.mp3" << noise(mp3, 4410) << 1.0 << "";
}

void LoaderTest::loadGivesTheFilesFrames()
{
    QFETCH(QString, name);
    QFETCH(testaudio::Recipe, recipe);
    QFETCH(double, keep);
    QFETCH(QString, change);
    const QString path = m_dir->filePath(QTest::currentDataTag() + name);
    testaudio::writeTrack(path, recipe);
    QVERIFY(change != "no Xing" || hostile::dropXingFrame(path));
    const QByteArray id3 = QByteArray("ID3\x04\0\0\0\0\0\x0c", 10) + QByteArray(12, '\0');
    QVERIFY(change != "ID3v2" || testfiles::writeAll(path, id3 + testfiles::readAll(path)));
    QVERIFY(change != "twice" || hostile::setFlacTotalFrames(path, quint64(2 * recipe.frames)));
    QVERIFY(QFile::resize(path, qint64(QFileInfo(path).size() * keep)));

    QString reason;
    const auto track = load(path, &reason);
    if (isRaw(recipe.format) && keep < 1.0) { // a raw track cut short plays not at all
        QVERIFY(!track);
        QCOMPARE(reason, "The file is damaged");
        return;
    }
    QVERIFY(track);
    if (isRaw(recipe.format)) {
        QCOMPARE(track->totalFrames, recipe.frames);
        QCOMPARE(bytesOf(track->block), storedSamples(path, recipe.frames * track->format.bytesPerFrame()));
    } else {
        compareWithOnePass(*track, path, recipe, keep);
    }
    // The parts themselves were compared, not a read or a decode in one pass standing in for them.
    if (!QTest::currentTestFailed() && keep > 0.99 && recipe.frames >= 600'000
        && std::thread::hardware_concurrency() > 1)
        QVERIFY(track->decodedParts > 1);
}

// Damaged and hostile files, legal oddities that must load, and every reproducer.
void LoaderTest::badInputIsRefused_data()
{
    using hostile::wavFile;
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // or "<dir>", "<fifo>", "<flac>", "<unreadable>"; null: none or a reproducer
    QTest::addColumn<int>("frames");         // -1: refused
    QTest::addColumn<QString>("reason");     // checked when given
    const QByteArray pcm(400, '\1');
    const QString damaged = "The file is damaged";
    QTest::newRow("missing") << "missing.wav" << QByteArray() << -1 << "File not found";
    QTest::newRow("permission denied") << "denied.wav" << QByteArray("<unreadable>") << -1 << "Permission denied";
    QTest::newRow("empty") << "empty.wav" << QByteArray("") << -1 << "This file could not be read";
    QTest::newRow("garbage wav") << "garbage.wav" << QByteArray(5000, '\x5a') << -1 << "Not a WAV file";
    QTest::newRow("flac named aiff") << "flac.aif" << QByteArray("<flac>") << -1 << "Not an AIFF file";
    QTest::newRow("garbage flac") << "garbage.flac" << ("fLaC" + QByteArray(5000, '\x5a')) << -1 << "Not a FLAC file";
    QTest::newRow("wav named flac") << "wav.flac" << wavFile(1, 2, 44100, 16, pcm) << -1 << "Not a FLAC file";
    QTest::newRow("garbage mp3") << "garbage.mp3" << QByteArray(5000, '\0') << -1 << "Not an MP3 file";
    QTest::newRow("garbage, no extension") << "garbage" << QByteArray(5000, '\0') << -1 << "Not a WAV, AIFF, FLAC or MP3 file";
    QTest::newRow("header cut short") << "short.wav" << wavFile(1, 2, 44100, 16, pcm).left(30) << -1 << damaged;
    QTest::newRow("data chunk longer than the file") << "cut.wav" << wavFile(1, 2, 44100, 16, pcm).chopped(300) << -1 << damaged;
    QTest::newRow("no data at all") << "nodata.wav" << wavFile(1, 2, 44100, 16, {}) << -1 << QString();
    QTest::newRow("zero channels") << "zero-channels.wav" << wavFile(1, 0, 44100, 16, pcm) << -1 << damaged;
    QTest::newRow("zero bits") << "zero-bits.wav" << wavFile(1, 2, 44100, 0, pcm) << -1 << QString();
    QTest::newRow("zero rate") << "zero-rate.wav" << wavFile(1, 2, 0, 16, pcm) << -1 << QString();
    QTest::newRow("absurd rate") << "absurd-rate.wav" << wavFile(1, 2, 0xF0000000u, 16, pcm) << -1 << QString();
    QTest::newRow("directory") << "dir.wav" << QByteArray("<dir>") << -1 << "This file could not be read";
    QTest::newRow("fifo") << "fifo.wav" << QByteArray("<fifo>") << -1 << QString();
    // 10 stereo 16-bit frames and 2 stray bytes: the partial frame is dropped.
    QTest::newRow("partial trailing frame") << "partial.wav" << wavFile(1, 2, 44100, 16, QByteArray(42, '\x11')) << 10 << QString();
    // A recorder that never closed the file left RIFF size 8 and data size 0.
    QTest::newRow("recording never closed")
        << "unclosed.wav"
        << (wavFile(1, 2, 44100, 16, {}).replace(4, 4, QByteArray("\x08\0\0\0", 4)) + QByteArray(40, '\x11')) << 10 << QString();
    for (const hostile::Reproducer &file : hostile::reproducers())
        QTest::newRow(file.name) << file.name << QByteArray() << int(file.loadedFrames) << QString();
}

void LoaderTest::badInputIsRefused()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(int, frames);
    QFETCH(QString, reason);
    const QString path = m_dir->filePath(name);
    const auto reproducers = hostile::reproducers();
    const auto reproducer = std::find_if(reproducers.begin(), reproducers.end(),
                                         [&](const hostile::Reproducer &file) { return name == file.name; });
    if (reproducer != reproducers.end())
        QVERIFY(reproducer->write(path));
    else if (content == "<dir>")
        QVERIFY(QDir(m_dir->path()).mkdir(name));
    else if (content == "<fifo>")
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (content == "<flac>")
        testaudio::writeTrack(path, {flac16});
    else if (content == "<unreadable>" && !writeUnreadable(path))
        QSKIP("no file here that this user cannot read");
    else if (!content.isNull() && !content.startsWith('<'))
        QVERIFY(testfiles::writeAll(path, content));
    QString refusal;
    const auto track = load(path, &refusal);
    QCOMPARE(track ? track->totalFrames : -1, frames);
    if (!reason.isEmpty())
        QCOMPARE(refusal, reason);
    if (track && !content.isEmpty())
        QCOMPARE(bytesOf(track->block), content.mid(44, frames * 4));
}

// A good file is refused once its header claims more than the 4 GiB a block
// may hold (sparse, so the data seems to be there).
void LoaderTest::headerClaimingOver4GiBIsRefused()
{
    const QString path = m_dir->filePath("big.wav");
    testaudio::writeTrack(path, {SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 44100, 2, 10000, testaudio::Signal::Noise});
    QCOMPARE(framesLoaded(path), 10000);
    QByteArray bytes = testfiles::readAll(path);
    const qsizetype ds64 = bytes.indexOf("ds64");
    QVERIFY(ds64 > 0);
    qToLittleEndian<quint64>(5'000'000'000ull, bytes.data() + ds64 + 16);
    QVERIFY(testfiles::writeAll(path, bytes) && QFile::resize(path, 5'000'000'100ll));
    QCOMPARE(framesLoaded(path), -1);
}

// 8 MB tracks (raw 16-bit stereo; float mono with no length in the header, so the
// block grows) load under a 12 MiB ceiling alone, not beside a 6 MiB block held.
void LoaderTest::memoryBudgetBoundsEveryLoad()
{
    for (const bool decoded : {false, true}) {
        const QString path = m_dir->filePath(decoded ? "budget.flac" : "budget.wav");
        testaudio::writeTrack(path, {decoded ? flac16 : wav16, 44100, decoded ? 1 : 2, 2'000'000, testaudio::Signal::Tone});
        QVERIFY(!decoded || hostile::setFlacTotalFrames(path, 0));
        setTrackMemoryCeiling(12u << 20);
        QCOMPARE(framesLoaded(path), 2'000'000);
        const TrackBlock held = TrackBlock::allocate(6u << 20);
        QString reason;
        QCOMPARE(framesLoaded(path, &reason), -1);
        QCOMPARE(reason, "Too large to hold in memory");
        QCOMPARE(TrackBlock::heldBytes(), held.size());
    }
}

// Stopped before it starts (raw), and while decoding in parts.
void LoaderTest::stopEndsTheLoadAndFreesItsMemory()
{
    for (const bool whileDecoding : {false, true}) {
        const QString path = m_dir->filePath(whileDecoding ? "stop.flac" : "stop.wav");
        testaudio::writeTrack(path, {whileDecoding ? flac24 : wav16, 96000, 2, 1'100'000, testaudio::Signal::Noise});
        std::stop_source stop;
        if (!whileDecoding)
            stop.request_stop();
        auto pending = std::async(std::launch::async, [&] { return loadTrack(QFile::encodeName(path), stop.get_token()); });
        // The first growth of the block shows the decoder at work.
        while (whileDecoding && TrackBlock::heldBytes() == 0)
            std::this_thread::yield();
        stop.request_stop();
        QVERIFY(std::holds_alternative<LoadProblem>(pending.get()));
        QCOMPARE(TrackBlock::heldBytes(), 0u);
    }
}

// A load stuck inside a decoder sees no stop. After the patience it is
// reported failed, a fresh thread takes the load queued behind it, and the
// worker's destruction leaves the thread still stuck behind.
void LoaderTest::hungLoadIsAbandoned()
{
    const QString next = m_dir->filePath("next.wav");
    testaudio::writeTrack(next, {wav16, 44100, 2, 4410, Signal::Noise});
    std::promise<void> unstick;
    auto stuckCalls = std::make_shared<std::atomic<int>>(0);
    const auto load = [released = unstick.get_future().share(), stuckCalls](const QByteArray &path,
                                                                           std::stop_token stop) {
        if (path == "stuck" && ++*stuckCalls)
            released.wait();
        return loadTrack(path, stop);
    };
    std::map<quint64, bool> loaded;
    auto worker = std::make_unique<TrackLoadWorker>(
        load, [&](quint64 ticket, TrackLoadWorker::Result result) { loaded[ticket] = result.track.has_value(); },
        std::chrono::milliseconds(200));
    const quint64 stuck = worker->request("stuck", TrackLoadWorker::Priority::Play);
    const quint64 queued = worker->request(QFile::encodeName(next), TrackLoadWorker::Priority::Preload);
    QTRY_COMPARE(loaded.size(), 2u);
    QVERIFY(!loaded.at(stuck));
    QVERIFY(loaded.at(queued));

    worker->request("stuck", TrackLoadWorker::Priority::Play);
    QTRY_COMPARE(stuckCalls->load(), 2);
    worker.reset();
    unstick.set_value();
}

QTEST_GUILESS_MAIN(LoaderTest)
#include "tst_engine_loader.moc"
