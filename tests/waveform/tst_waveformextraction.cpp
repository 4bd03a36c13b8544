// The streaming extraction must give exactly what decoding the whole file into
// one buffer gives, on real files of every format the queue admits, and fail
// cleanly, never hang, on hostile ones.
#include "HostileFiles.h"
#include "TestAudio.h"
#include "WaveformExtraction.h"
#include "WholeFileWaveform.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <bit>
#include <sys/stat.h>

using testaudio::Signal;

using Damage = std::function<void(const QString &)>;

Q_DECLARE_METATYPE(Signal)
Q_DECLARE_METATYPE(Damage)

namespace {

constexpr int maxSamples = 500;
constexpr int mp3 = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;

QString describe(const WaveformResult &result)
{
    const auto *error = std::get_if<WaveformError>(&result);
    return error ? error->description : QString();
}

bool sameBits(const QList<double> &a, const QList<double> &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](double x, double y) {
        return std::bit_cast<quint64>(x) == std::bit_cast<quint64>(y);
    });
}

QString extensionOf(int format)
{
    switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_AIFF: return "aiff";
    case SF_FORMAT_FLAC: return "flac";
    case SF_FORMAT_MPEG: return "mp3";
    default: return "wav";
    }
}

QString writeFile(const QTemporaryDir &dir, const testaudio::Recipe &recipe)
{
    const QString path = dir.filePath(QStringLiteral("track.") + extensionOf(recipe.format));
    QString error;
    if (!testaudio::write(path, recipe, &error))
        qWarning("cannot write %s: %s", qPrintable(path), qPrintable(error));
    return path;
}

LoadedWaveform extract(const QString &path)
{
    const WaveformResult result = makeWaveformData(QUrl::fromLocalFile(path), maxSamples);
    if (const auto *error = std::get_if<WaveformError>(&result))
        qWarning("%s", qPrintable(error->description));
    return std::holds_alternative<LoadedWaveform>(result) ? std::get<LoadedWaveform>(result)
                                                          : LoadedWaveform{{-1.0}, -1.0};
}

// Compares the extraction of `path` with the whole-file reference.
void verifyMatchesWholeFile(const QString &path)
{
    const WholeFileWaveform reference = wholeFileWaveform(path, maxSamples);
    const WaveformResult result = makeWaveformData(QUrl::fromLocalFile(path), maxSamples);
    if (!reference.opened) {
        QVERIFY(std::holds_alternative<WaveformError>(result));
        QCOMPARE(std::get<WaveformError>(result).kind, WaveformError::Failed);
        return;
    }
    QVERIFY2(std::holds_alternative<LoadedWaveform>(result), qPrintable(describe(result)));
    const auto &waveform = std::get<LoadedWaveform>(result);
    QCOMPARE(waveform.samples.size(), reference.samples.size());
    QVERIFY(sameBits(waveform.samples, reference.samples));
    QCOMPARE(std::bit_cast<quint64>(waveform.duration), std::bit_cast<quint64>(reference.duration));
}

} // namespace

class WaveformExtractionTest : public QObject
{
    Q_OBJECT

private slots:
    void matchesWholeFileReference_data();
    void matchesWholeFileReference();
    void followsTheBucketRules_data();
    void followsTheBucketRules();
    void mp3WithWrongAnnouncedLength_data();
    void mp3WithWrongAnnouncedLength();
    void damagedFilesFailOrMatch_data();
    void damagedFilesFailOrMatch();
    void unreadableFilesFailWithReason_data();
    void unreadableFilesFailWithReason();
    void cancellationStopsAtOnce_data();
    void cancellationStopsAtOnce();
    void hostileFilesFailOrMatch_data();
    void hostileFilesFailOrMatch();
};

void WaveformExtractionTest::matchesWholeFileReference_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("sampleRate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<qint64>("frames");
    QTest::addColumn<Signal>("signal");
    const QList<std::pair<const char *, int>> formats = {
        {"wav16", SF_FORMAT_WAV | SF_FORMAT_PCM_16}, {"aiff24", SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
        {"flac16", SF_FORMAT_FLAC | SF_FORMAT_PCM_16}, {"mp3", mp3}};
    const QList<std::pair<const char *, Signal>> signals_ = {{"full scale", Signal::FullScale},
                                                            {"left silent", Signal::LeftSilent}};
    for (const auto &[formatName, format] : formats)
        for (const qint64 frames : {0LL, 300LL, 999LL, 1000000LL, 1000001LL})
            for (const auto &[signalName, signal] : signals_)
                QTest::addRow("%s %lld %s", formatName, frames, signalName)
                    << format << 44100 << 2 << frames << signal;
    QTest::newRow("flac24 96k noise") << (SF_FORMAT_FLAC | SF_FORMAT_PCM_24) << 96000 << 2
                                      << qint64(1234567) << Signal::Noise;
    QTest::newRow("wav float 6ch noise") << (SF_FORMAT_WAV | SF_FORMAT_FLOAT) << 48000 << 6
                                         << qint64(250001) << Signal::Noise;
    QTest::newRow("mp3 mono 48k tone") << mp3 << 48000 << 1 << qint64(480000) << Signal::Tone;
}

void WaveformExtractionTest::matchesWholeFileReference()
{
    QFETCH(int, format);
    QFETCH(int, sampleRate);
    QFETCH(int, channels);
    QFETCH(qint64, frames);
    QFETCH(Signal, signal);
    auto dir = testaudio::makeTempDir();
    testaudio::Recipe recipe{format, sampleRate, channels, frames, signal};
    verifyMatchesWholeFile(writeFile(*dir, recipe));
}

// The rules themselves, on lossless files whose decoded values are known.
void WaveformExtractionTest::followsTheBucketRules_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<qint64>("frames");
    QTest::addColumn<Signal>("signal");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("value"); // every bucket's value, or -1 to skip
    QTest::addColumn<double>("duration");
    const int wav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    const int wavFloat = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    QTest::newRow("no frames") << wav16 << qint64(0) << Signal::Tone << 0 << -1.0 << 0.0;
    QTest::newRow("300 frames") << wav16 << qint64(300) << Signal::Tone << 300 << -1.0 << 300 / 44100.0;
    QTest::newRow("1,000,000 frames") << wav16 << qint64(1000000) << Signal::Tone << 500 << -1.0
                                      << 1000000 / 44100.0;
    QTest::newRow("1,000,001 frames") << wav16 << qint64(1000001) << Signal::Tone << 501 << -1.0
                                      << 1000001 / 44100.0;
    QTest::newRow("full scale") << wavFloat << qint64(100000) << Signal::FullScale << 500 << 1.0
                                << 100000 / 44100.0;
    QTest::newRow("silence") << wav16 << qint64(100000) << Signal::Silence << 500 << 0.0
                             << 100000 / 44100.0;
    QTest::newRow("left silent") << wav16 << qint64(100000) << Signal::LeftSilent << 500 << 0.0
                                 << 100000 / 44100.0;
}

void WaveformExtractionTest::followsTheBucketRules()
{
    QFETCH(int, format);
    QFETCH(qint64, frames);
    QFETCH(Signal, signal);
    QFETCH(int, count);
    QFETCH(double, value);
    QFETCH(double, duration);
    auto dir = testaudio::makeTempDir();
    const QString path = writeFile(*dir, {format, 44100, 2, frames, signal});
    const LoadedWaveform waveform = extract(path);
    QCOMPARE(waveform.samples.size(), count);
    QCOMPARE(waveform.duration, duration);
    for (const double sample : waveform.samples)
        QVERIFY(value < 0 || sample == value);
    // Below the budget each bucket is one frame: the absolute sample itself;
    // past a whole number of buckets the last one is the single frame left.
    const auto decoded = testaudio::decodedFloat(path);
    const auto first = [&](qint64 frame) { return double(std::abs(decoded[std::size_t(frame * 2)])); };
    if (frames < 2 * maxSamples) {
        for (qsizetype i = 0; i < waveform.samples.size(); ++i)
            QCOMPARE(waveform.samples[i], first(i));
    }
    if (frames == 1000001)
        QCOMPARE(waveform.samples.last(), first(frames - 1));
}

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(bytes);
}

void truncateTo(const QString &path, double fraction)
{
    const QByteArray bytes = readAll(path);
    writeAll(path, bytes.left(qsizetype(bytes.size() * fraction)));
}

// LAME's frame-count tag makes libsndfile announce the exact length; without
// it the length is estimated from the file size.
void removeLengthTag(const QString &path)
{
    QByteArray bytes = readAll(path);
    for (const char *tag : {"Xing", "Info"}) {
        if (const qsizetype at = bytes.indexOf(tag); at >= 0)
            bytes.replace(at, 4, "XXXX");
    }
    writeAll(path, bytes);
}

} // namespace

void WaveformExtractionTest::mp3WithWrongAnnouncedLength_data()
{
    QTest::addColumn<qint64>("frames");
    QTest::addColumn<bool>("truncate");
    QTest::newRow("cut short") << qint64(1000000) << true;
    QTest::newRow("length tag removed, short") << qint64(300) << false;
    QTest::newRow("length tag removed, long") << qint64(1000000) << false;
}

void WaveformExtractionTest::mp3WithWrongAnnouncedLength()
{
    QFETCH(qint64, frames);
    QFETCH(bool, truncate);
    auto dir = testaudio::makeTempDir();
    const QString path = writeFile(*dir, {mp3, 44100, 2, frames, Signal::Noise});
    truncate ? truncateTo(path, 0.4) : removeLengthTag(path);
    const WholeFileWaveform reference = wholeFileWaveform(path, maxSamples);
    QVERIFY2(reference.announced != reference.decoded, "the file must announce a wrong length");
    verifyMatchesWholeFile(path);
    // Duration is the reader's length, not the frames decoded.
    QCOMPARE(extract(path).duration, double(reference.announced) / 44100);
}

// Damaged files end as a failure or as exactly what the whole file gives.
void WaveformExtractionTest::damagedFilesFailOrMatch_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<bool>("mustFail");
    const int wav = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    const int flac = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    QTest::newRow("wav cut mid-frame") << wav << Damage([](const QString &p) { truncateTo(p, 0.77); }) << false;
    QTest::newRow("flac cut in half") << flac << Damage([](const QString &p) { truncateTo(p, 0.5); }) << false;
    QTest::newRow("flac announcing twice its length")
        << flac << Damage([](const QString &p) { hostile::setFlacTotalFrames(p, 400000); }) << false;
    QTest::newRow("flac announcing 2^33 frames")
        << flac << Damage([](const QString &p) { hostile::setFlacTotalFrames(p, 1ULL << 33); }) << true;
    QTest::newRow("mp3 cut to 100 bytes") << mp3 << Damage([](const QString &p) { truncateTo(p, 0.001); }) << false;
    QTest::newRow("aiff header only")
        << (SF_FORMAT_AIFF | SF_FORMAT_PCM_16) << Damage([](const QString &p) { truncateTo(p, 0.0002); })
        << false;
}

void WaveformExtractionTest::damagedFilesFailOrMatch()
{
    QFETCH(int, format);
    QFETCH(Damage, damage);
    QFETCH(bool, mustFail);
    auto dir = testaudio::makeTempDir();
    const QString path = writeFile(*dir, {format, 44100, 2, 200000, Signal::Noise});
    damage(path);
    const WaveformResult result = makeWaveformData(QUrl::fromLocalFile(path), maxSamples);
    if (const auto *error = std::get_if<WaveformError>(&result)) {
        QCOMPARE(error->kind, WaveformError::Failed);
        QVERIFY(error->description.contains(path));
        return;
    }
    QVERIFY(!mustFail);
    verifyMatchesWholeFile(path);
}

void WaveformExtractionTest::unreadableFilesFailWithReason_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // written as the file unless "-"
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "missing.flac" << QByteArray("-") << "does not exist";
    QTest::newRow("folder") << "folder.wav" << QByteArray("dir") << "folder";
    QTest::newRow("fifo") << "pipe.flac" << QByteArray("fifo") << "not a regular file";
    QTest::newRow("empty") << "empty.mp3" << QByteArray() << "is empty";
    QTest::newRow("text named wav") << "notes.wav" << QByteArray("just some words, not audio\n")
                                    << "not a readable WAV, AIFF, FLAC or MP3 file";
    QTest::newRow("bare RIFF header") << "bare.wav" << QByteArray("RIFF\x04\x00\x00\x00WAVE", 12)
                                      << "not a readable WAV, AIFF, FLAC or MP3 file";
}

void WaveformExtractionTest::unreadableFilesFailWithReason()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    auto dir = testaudio::makeTempDir();
    const QString path = dir->filePath(name);
    if (content == "dir")
        QVERIFY(QDir().mkpath(path));
    else if (content == "fifo")
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (content != "-")
        writeAll(path, content);
    const WaveformResult result = makeWaveformData(QUrl::fromLocalFile(path), maxSamples);
    QVERIFY(std::holds_alternative<WaveformError>(result));
    const auto &error = std::get<WaveformError>(result);
    QCOMPARE(error.kind, WaveformError::Failed);
    QVERIFY2(error.description.contains(path) && error.description.contains(reason),
             qPrintable(error.description));
}

void WaveformExtractionTest::cancellationStopsAtOnce_data()
{
    QTest::addColumn<int>("cancelAtPoll"); // the poll that first reports true; 0 for never
    QTest::newRow("never") << 0;
    QTest::newRow("before anything") << 1;
    QTest::newRow("second poll") << 2;
    QTest::newRow("mid track") << 250;
    QTest::newRow("last bucket") << 500;
}

void WaveformExtractionTest::cancellationStopsAtOnce()
{
    QFETCH(int, cancelAtPoll);
    auto dir = testaudio::makeTempDir();
    const QString path = writeFile(*dir, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, 1000000, Signal::Noise});
    int polls = 0;
    const auto result = makeWaveformData(QUrl::fromLocalFile(path), maxSamples,
                                         [&] { return ++polls == cancelAtPoll; });
    if (cancelAtPoll == 0) {
        // Polled before each of the 500 buckets at least.
        QVERIFY(polls >= 500);
        QCOMPARE(std::get<LoadedWaveform>(result).samples.size(), 500);
        return;
    }
    QCOMPARE(polls, cancelAtPoll);
    QVERIFY(std::holds_alternative<WaveformError>(result));
    QCOMPARE(std::get<WaveformError>(result).kind, WaveformError::Cancelled);
}

void WaveformExtractionTest::hostileFilesFailOrMatch_data()
{
    QTest::addColumn<int>("index");
    const auto all = hostile::reproducers();
    for (std::size_t i = 0; i < all.size(); ++i)
        QTest::newRow(all[i].name) << int(i);
}

void WaveformExtractionTest::hostileFilesFailOrMatch()
{
    QFETCH(int, index);
    const hostile::Reproducer file = hostile::reproducers()[std::size_t(index)];
    auto dir = testaudio::makeTempDir();
    const QString path = dir->filePath(file.name);
    QVERIFY(file.write(path));
    const WaveformResult result =
        hostile::underWatchdog([&] { return makeWaveformData(QUrl::fromLocalFile(path), maxSamples); });
    if (!file.waveformFails) {
        verifyMatchesWholeFile(path);
        return;
    }
    QVERIFY(std::holds_alternative<WaveformError>(result));
    QCOMPARE(std::get<WaveformError>(result).kind, WaveformError::Failed);
    QVERIFY(std::get<WaveformError>(result).description.contains(path));
}

QTEST_GUILESS_MAIN(WaveformExtractionTest)
#include "tst_waveformextraction.moc"
