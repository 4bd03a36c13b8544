// Whole-track load time against the raw-read limit and the reference
// decoders, measured in the same run on the same files, and the cost of one
// 512-frame render call. Prints ratios; asserts nothing.
//
//   quorvel_bench_load [directory for the generated material]
#include "BitPerfectAudioPlayer.h"
#include "SimulatedAudioPlatform.h"
#include "TrackLoader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <random>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSeconds = 600;
constexpr int kRuns = 5;

struct Material
{
    const char *label;
    const char *file;
    int format;
    int rate;
    const char *reference; // "flac" or "mpg123"; "" for the read() limit
};

const Material kMaterial[] = {
    {"WAV 16/44.1", "track-16-44.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, ""},
    {"FLAC 16/44.1", "track-16-44.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, "flac"},
    {"MP3 44.1", "track-44.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, "mpg123"},
    {"FLAC 24/96", "track-24-96.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 96000, "flac"},
};

// Music-like material: a few partials and a little noise, so FLAC and MP3
// do real work without the worst case of white noise.
bool generate(const QString &path, const Material &m)
{
    if (QFile::exists(path))
        return true;
    SF_INFO info{};
    info.samplerate = m.rate;
    info.channels = 2;
    info.format = m.format;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    std::mt19937 rng(7);
    std::normal_distribution<float> noise(0.0f, 0.01f);
    std::vector<float> second(std::size_t(m.rate) * 2);
    for (int s = 0; s < kSeconds; ++s) {
        for (int i = 0; i < m.rate; ++i) {
            const double t = s + double(i) / m.rate;
            const double v = 0.3 * std::sin(2 * M_PI * 220 * t) + 0.15 * std::sin(2 * M_PI * 331 * t)
                             + 0.1 * std::sin(2 * M_PI * 1250 * t * (1 + 0.001 * std::sin(t)));
            second[std::size_t(i) * 2] = float(v) + noise(rng);
            second[std::size_t(i) * 2 + 1] = float(v * 0.8) + noise(rng);
        }
        sf_writef_float(file, second.data(), m.rate);
    }
    return sf_close(file) == 0;
}

double median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double elapsedMs(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

// Medians of the tasks, run in turns so that a load that comes and goes
// (another build on the machine) weighs on each alike.
std::vector<double> interleavedMedians(const std::vector<std::function<void()>> &tasks)
{
    std::vector<std::vector<double>> times(tasks.size());
    for (int run = 0; run < kRuns; ++run)
        for (std::size_t t = 0; t < tasks.size(); ++t)
            times[t].push_back(elapsedMs(tasks[t]));
    std::vector<double> medians;
    for (const auto &series : times)
        medians.push_back(median(series));
    return medians;
}

// The raw-read limit: the file's bytes into a fresh buffer with read().
void plainRead(const QString &path)
{
    const int fd = open(QFile::encodeName(path).constData(), O_RDONLY);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0)
        return;
    std::unique_ptr<char[]> buffer(new char[std::size_t(st.st_size)]);
    for (off_t done = 0; done < st.st_size;) {
        const ssize_t got = read(fd, buffer.get() + done, std::size_t(st.st_size - done));
        if (got <= 0)
            break;
        done += got;
    }
    close(fd);
}

void runTool(const char *tool, const QString &path)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    const QStringList args = QByteArray(tool) == "flac" ? QStringList{"-d", "-c", "-s", path}
                                                        : QStringList{"-q", "-e", "f32", "-s", path};
    process.start(QString::fromLatin1(tool), args);
    process.waitForFinished(-1);
}

void benchLoad(const QString &dir)
{
    std::printf("%-14s %11s %11s %-9s %12s %8s %7s\n", "track", "engine ms", "read() ms",
                "reference", "reference ms", "ratio", "target");
    for (const Material &m : kMaterial) {
        const QString path = QDir(dir).filePath(m.file);
        if (!generate(path, m)) {
            std::printf("%-14s cannot be generated\n", m.label);
            continue;
        }
        qint64 frames = 0;
        const bool raw = *m.reference == 0;
        std::vector<std::function<void()>> tasks{
            [&] {
                const TrackLoad loaded = loadTrack(QFile::encodeName(path));
                const auto *track = std::get_if<LoadedTrack>(&loaded);
                frames = track ? track->totalFrames : 0;
            },
            [&] { plainRead(path); }};
        if (!raw)
            tasks.push_back([&] { runTool(m.reference, path); });
        const std::vector<double> ms = interleavedMedians(tasks);
        if (frames < qint64(m.rate) * (kSeconds - 1)) {
            std::printf("%-14s did not load whole (%lld frames)\n", m.label, static_cast<long long>(frames));
            continue;
        }
        const double engine = ms[0], limit = ms[1], reference = ms.back();
        const char *target = raw ? "<= 1.0" : "<= 0.5";
        std::printf("%-14s %11.1f %11.1f %-9s %12.1f %8.2f %7s\n", m.label, engine, limit,
                    raw ? "read()" : m.reference, reference, engine / reference, target);
    }
}

void benchRender(const QString &dir)
{
    SimulatedAudioPlatform platform;
    platform.addDevice({1, "Bench"});
    platform.setDefaultOutputDevice(1);
    platform.setCaptureEnabled(false);
    BitPerfectAudioPlayer player(platform, loadsAtOnce());
    player.playBitPerfect(QUrl::fromLocalFile(QDir(dir).filePath(kMaterial[0].file)));
    constexpr int kCalls = 40000;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kCalls; ++i)
        platform.renderStep(512);
    std::printf("render: %.0f ns per 512-frame call (16-bit stereo, simulated device)\n",
                double(timer.nsecsElapsed()) / kCalls);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::temp().filePath("quorvel-bench");
    QDir().mkpath(dir);
    std::printf("10-minute tracks in %s, median of %d runs, files in the page cache\n",
                qPrintable(dir), kRuns);
    benchLoad(dir);
    benchRender(dir);
    return 0;
}
