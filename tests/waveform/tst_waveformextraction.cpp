// The streaming extraction gives exactly what decoding the whole file into one
// buffer gives, and fails cleanly, never hanging, on hostile files.
#include "HostileFiles.h"
#include "MemoryWaveform.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TrackLoader.h"
#include "WaveformExtraction.h"

#include <QFile>
#include <QTest>
#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <sys/stat.h>

using testaudio::Signal;
using Make = std::function<bool(const QString &)>;

Q_DECLARE_METATYPE(testaudio::Recipe)
Q_DECLARE_METATYPE(Make)

namespace {

constexpr int maxSamples = 500;
constexpr int mp3 = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
constexpr int wav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16, flac16 = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;

WaveformResult extract(const QString &path, const CancellationCheck &isCancelled = {})
{
    return makeWaveformData(QUrl::fromLocalFile(path), maxSamples, isCancelled);
}

// The straightforward whole-file waveform the streaming extraction must equal
// bit for bit: decode everything into one buffer, then bucket the first
// channel of the frames really decoded. None when libsndfile cannot open it.
std::optional<LoadedWaveform> wholeFileWaveform(const QString &path)
{
    LoadedWaveform out;
    SF_INFO info{};
    const std::vector<float> all = testaudio::decoded<float>(path, &info);
    if (info.channels == 0)
        return std::nullopt;
    if (info.frames == 0)
        return out;
    const qint64 count = qint64(all.size()) / info.channels;
    const qint64 bucket = std::max<qint64>(count / maxSamples, 1);
    for (qint64 s = 0; s < count; s += bucket) {
        const qint64 e = std::min(s + bucket, count);
        double sum = 0;
        for (qint64 f = s; f < e; ++f) {
            const double v = double(std::abs(all[std::size_t(f * info.channels)]));
            sum += v * v;
        }
        out.samples.append(std::sqrt(sum / double(std::max<qint64>(e - s, 1))));
    }
    // A reader that cannot tell the length knows it once everything is decoded;
    // one that states it (all but MP3, whose length is an estimate) and yields
    // fewer frames is wrong or cut short, and the frames decoded are the track.
    const bool known = info.frames != std::numeric_limits<sf_count_t>::max();
    const bool estimate = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
    const double length = double(!known ? count : estimate ? info.frames : std::min<qint64>(info.frames, count));
    out.duration = info.samplerate > 0 ? length / info.samplerate : 0.0;
    return out;
}

void verifySameBits(const LoadedWaveform &waveform, const LoadedWaveform &reference)
{
    QCOMPARE(waveform.samples.size(), reference.samples.size());
    for (qsizetype i = 0; i < waveform.samples.size(); ++i)
        QCOMPARE(std::bit_cast<quint64>(waveform.samples[i]), std::bit_cast<quint64>(reference.samples[i]));
    QCOMPARE(std::bit_cast<quint64>(waveform.duration), std::bit_cast<quint64>(reference.duration));
}

// Compares the extraction of `path` with the whole-file reference, bit for bit.
void verifyMatchesWholeFile(const QString &path, const WaveformResult &result)
{
    const std::optional<LoadedWaveform> reference = wholeFileWaveform(path);
    const auto *error = std::get_if<WaveformError>(&result);
    if (!reference) {
        QVERIFY(error && error->kind == WaveformError::Failed);
        return;
    }
    QVERIFY2(!error, qPrintable(error ? error->description : QString()));
    verifySameBits(std::get<LoadedWaveform>(result), *reference);
}

} // namespace

class WaveformExtractionTest : public QObject
{
    Q_OBJECT

private slots:
    void matchesWholeFileReference_data();
    void matchesWholeFileReference();
    void badFilesFailOrMatch_data();
    void badFilesFailOrMatch();
    void cancellationStopsAtOnce_data();
    void cancellationStopsAtOnce();
};

void WaveformExtractionTest::matchesWholeFileReference_data()
{
    QTest::addColumn<testaudio::Recipe>("recipe");
    QTest::addColumn<int>("count"); // of bars, known independently of the reference; -1 skips
    // One bucket a frame below twice the budget; a whole number of buckets;
    // past it the last holds the frames left; the first channel only.
    QTest::newRow("wav no frames") << testaudio::Recipe{wav16, 44100, 2, 0} << 0;
    QTest::newRow("wav 999 left silent") << testaudio::Recipe{wav16, 44100, 2, 999, Signal::LeftSilent} << 999;
    QTest::newRow("flac16 1,000,000 left silent")
        << testaudio::Recipe{flac16, 44100, 2, 1000000, Signal::LeftSilent} << 500;
    QTest::newRow("wav float 6ch 250,001") << testaudio::Recipe{SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 6, 250001, Signal::Noise}
                                           << 501;
    QTest::newRow("mp3 mono 48k 300") << testaudio::Recipe{mp3, 48000, 1, 300} << -1;
    // Every layout the player holds a track in.
    QTest::newRow("wav24 96k 100,000") << testaudio::Recipe{SF_FORMAT_WAV | SF_FORMAT_PCM_24, 96000, 2, 100000, Signal::Noise}
                                       << 500;
    QTest::newRow("wav u8 mono 5,000") << testaudio::Recipe{SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 44100, 1, 5000, Signal::Noise}
                                       << 500;
    QTest::newRow("wav double 2,000") << testaudio::Recipe{SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 44100, 2, 2000} << 500;
    QTest::newRow("aiff16 30,001") << testaudio::Recipe{SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 44100, 2, 30001, Signal::Noise}
                                   << 501;
    QTest::newRow("aiff24 mono 20,000") << testaudio::Recipe{SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 48000, 1, 20000, Signal::Noise}
                                        << 500;
    QTest::newRow("flac24 96k 200,000") << testaudio::Recipe{SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 96000, 2, 200000, Signal::Noise}
                                        << 500;
    QTest::newRow("mp3 stereo 100,000") << testaudio::Recipe{mp3, 44100, 2, 100000, Signal::Noise} << -1;
}

void WaveformExtractionTest::matchesWholeFileReference()
{
    QFETCH(testaudio::Recipe, recipe);
    QFETCH(int, count);
    auto dir = testaudio::makeTempDir();
    const QString path = testaudio::writeTrack(dir->filePath("a." + testaudio::extension(recipe.format)), recipe).toLocalFile();
    const WaveformResult result = extract(path);
    verifyMatchesWholeFile(path, result);
    QVERIFY(count < 0 || std::get<LoadedWaveform>(result).samples.size() == count);
    // The track loaded to play gives the same from its frames in memory.
    TrackLoad load = loadTrack(QFile::encodeName(path));
    auto *track = std::get_if<LoadedTrack>(&load);
    QVERIFY(track || recipe.frames == 0);
    if (!track)
        return;
    const FramesInMemory frames{std::make_shared<const TrackBlock>(std::move(track->block)), track->format,
                                track->totalFrames};
    const WaveformResult fromMemory = makeWaveformFromMemory(QUrl::fromLocalFile(path), frames, maxSamples);
    QVERIFY(std::holds_alternative<LoadedWaveform>(fromMemory));
    verifySameBits(std::get<LoadedWaveform>(fromMemory), std::get<LoadedWaveform>(result));
}

// Every bad file fails naming its path and the reason given (any when "*"), or,
// with no reason given, may instead give exactly what the whole file gives.
void WaveformExtractionTest::badFilesFailOrMatch_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<Make>("make");
    QTest::addColumn<QString>("reason");
    for (const hostile::Reproducer &file : hostile::reproducers())
        QTest::newRow(file.name) << file.name << file.write << (file.waveformFails ? "*" : "");
    const auto damaged = [](int format, std::function<bool(const QString &)> damage) {
        return Make([=](const QString &p) {
            testaudio::writeTrack(p, {format, 44100, 2, 200000, Signal::Noise});
            return damage(p);
        });
    };
    const auto cut = [](double fraction) {
        return [=](const QString &p) { return QFile::resize(p, qint64(QFileInfo(p).size() * fraction)); };
    };
    const auto announce = [](quint64 frames) {
        return [=](const QString &p) { return hostile::setFlacTotalFrames(p, frames); };
    };
    QTest::newRow("flac announcing 2^33 frames") << "a.flac" << damaged(flac16, announce(1ULL << 33)) << "*";
    QTest::newRow("mp3 cut to 100 bytes") << "a.mp3" << damaged(mp3, cut(0.001)) << "";
    QTest::newRow("mp3 cut short") << "a.mp3" << damaged(mp3, cut(0.4)) << "";
    QTest::newRow("missing") << "missing.flac" << Make([](const QString &) { return true; }) << "does not exist";
    // Opening a pipe for reading would wait for a writer forever.
    QTest::newRow("fifo") << "pipe.flac"
                          << Make([](const QString &p) { return mkfifo(QFile::encodeName(p).constData(), 0600) == 0; })
                          << "not a regular file";
}

void WaveformExtractionTest::badFilesFailOrMatch()
{
    QFETCH(QString, name);
    QFETCH(Make, make);
    QFETCH(QString, reason);
    auto dir = testaudio::makeTempDir();
    const QString path = dir->filePath(name);
    QVERIFY(make(path));
    const WaveformResult result = hostile::underWatchdog([&] { return extract(path); });
    const auto *error = std::get_if<WaveformError>(&result);
    if (reason.isEmpty() && !error) {
        verifyMatchesWholeFile(path, result);
        return;
    }
    QVERIFY(error);
    QCOMPARE(error->kind, WaveformError::Failed);
    QVERIFY2(error->description.contains(path) && (reason == "*" || error->description.contains(reason)),
             qPrintable(error->description));
}

void WaveformExtractionTest::cancellationStopsAtOnce_data()
{
    QTest::addColumn<int>("cancelAtPoll"); // the poll that first reports true; 0 for never
    QTest::newRow("never") << 0;
    QTest::newRow("before anything") << 1;
    QTest::newRow("mid track") << 250;
}

void WaveformExtractionTest::cancellationStopsAtOnce()
{
    QFETCH(int, cancelAtPoll);
    auto dir = testaudio::makeTempDir();
    const QString path = testaudio::writeTrack(dir->filePath("a.wav"), {wav16, 44100, 1, 1000000, Signal::Noise}).toLocalFile();
    int polls = 0;
    const auto result = extract(path, [&] { return ++polls == cancelAtPoll; });
    if (cancelAtPoll == 0)
        QVERIFY(polls >= 500 && std::get<LoadedWaveform>(result).samples.size() == 500); // a poll a bucket at least
    else
        QVERIFY(polls == cancelAtPoll && std::get<WaveformError>(result).kind == WaveformError::Cancelled);
}

QTEST_GUILESS_MAIN(WaveformExtractionTest)
#include "tst_waveformextraction.moc"
