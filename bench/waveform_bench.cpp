// Time and peak memory of waveform extraction on ten-minute tracks, next to
// libsndfile's own whole-file float decode and the reference command-line
// decoders, and the wall time of a folder of tracks with the pool and with one
// worker. Usage: waveform_bench [seconds per track = 600] [tracks = 100]
#include "BenchFiles.h"
#include "WaveformExtraction.h"
#include "WaveformLoader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <malloc.h>
#include <sys/resource.h>
#include <sndfile.h>
#include <vector>

namespace {

struct Figure
{
    double seconds = 1e300;
    double peakMiB = 0;
};

qint64 statusKiB(const char *field)
{
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    return 0;
}

// Best time of three runs; peak resident memory above the level just before
// each run, which the kernel's high-water mark is reset to.
template<typename Work>
Figure measure(Work &&work)
{
    Figure best;
    for (int run = 0; run < 3; ++run) {
        malloc_trim(0);
        QFile clear("/proc/self/clear_refs");
        if (clear.open(QIODevice::WriteOnly))
            clear.write("5");
        clear.close();
        const qint64 baseKiB = statusKiB("VmRSS:");
        QElapsedTimer timer;
        timer.start();
        work();
        best.seconds = std::min(best.seconds, timer.nsecsElapsed() / 1e9);
        best.peakMiB = std::max(best.peakMiB, (statusKiB("VmHWM:") - baseKiB) / 1024.0);
    }
    return best;
}

void extract(const QString &path)
{
    const WaveformResult result = makeWaveformData(QUrl::fromLocalFile(path), WaveformLoader::maxWaveformSamples);
    if (const auto *error = std::get_if<WaveformError>(&result))
        std::fprintf(stderr, "%s\n", qPrintable(error->description));
}

// What the whole-file algorithm costs: one buffer for every frame and channel.
void decodeWholeFile(const QString &path)
{
    SF_INFO info{};
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file)
        return;
    std::vector<float> all(std::size_t(info.frames) * std::size_t(info.channels));
    sf_readf_float(file, all.data(), info.frames);
    sf_close(file);
}

void runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    process.waitForFinished(-1);
}

void benchTrack(const QString &path, const BenchTrack &track)
{
    const bool mp3 = track.mp3Kbps > 0;
    extract(path); // warms the page cache for every contender alike
    const Figure ours = measure([&] { extract(path); });
    const Figure whole = measure([&] { decodeWholeFile(path); });
    const Figure tool = measure([&] {
        mp3 ? runTool("mpg123", {"-s", "-q", path}) : runTool("flac", {"-d", "-c", "-s", path});
    });
    const QString name = QStringLiteral("%1 (%2 MB)").arg(track.name).arg(QFileInfo(path).size() / 1e6, 0, 'f', 1);
    std::printf("%-34s %8.3f s %7.1f MiB | %8.3f s %8.1f MiB | %-10s %8.3f s | %5.2f x\n",
                qPrintable(name), ours.seconds, ours.peakMiB, whole.seconds, whole.peakMiB,
                mp3 ? "mpg123 -s" : "flac -d -c", tool.seconds, ours.seconds / whole.seconds);
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct PoolFigure
{
    double wall = 0;
    double cpu = 0; // process CPU time: wall × the cores the workers really got
};

// Wall time until every one of `urls` has its waveform, with `workers` threads.
PoolFigure loadAll(const QList<QUrl> &urls, int workers)
{
    WaveformLoader loader(makeWaveformData, workers);
    QEventLoop loop;
    QObject::connect(&loader, &WaveformLoader::loadingChanged, &loop, [&] {
        if (loader.loadingWaveforms().isEmpty())
            loop.quit();
    });
    QElapsedTimer timer;
    timer.start();
    const double cpuBefore = cpuSeconds();
    for (const QUrl &url : urls)
        loader.loadWaveform(url);
    loop.exec();
    const PoolFigure figure{timer.nsecsElapsed() / 1e9, cpuSeconds() - cpuBefore};
    if (loader.waveformSamplesByURL().size() != urls.size())
        std::fprintf(stderr, "only %lld of %lld waveforms arrived\n",
                     (long long)loader.waveformSamplesByURL().size(), (long long)urls.size());
    return figure;
}

void benchPool(const QTemporaryDir &dir, const QString &track, int count)
{
    QList<QUrl> urls;
    for (int i = 0; i < count; ++i) {
        const QString link = dir.filePath(QStringLiteral("folder-%1.flac").arg(i));
        QFile::link(track, link);
        urls.append(QUrl::fromLocalFile(link));
    }
    const int cores = QThread::idealThreadCount();
    const PoolFigure pooled = loadAll(urls, cores);
    const PoolFigure single = loadAll(urls, 1);
    std::printf("%d tracks: pool of %d %.2f s wall (%.2f s CPU), one worker %.2f s wall (%.2f s CPU), "
                "speed-up %.2f x\n",
                count, cores, pooled.wall, pooled.cpu, single.wall, single.cpu, single.wall / pooled.wall);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // Fixed thresholds: glibc would otherwise keep a freed big buffer in the
    // heap, and the next contender's peak would hide inside the baseline.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024);
    const QStringList args = app.arguments();
    const int seconds = args.size() > 1 ? args[1].toInt() : 600;
    const int tracks = args.size() > 2 ? args[2].toInt() : 100;
    QTemporaryDir dir;
    const QList<BenchTrack> list = {
        {"FLAC 44.1 kHz/16 stereo", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 0},
        {"FLAC 96 kHz/24 stereo", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 96000, 0},
        {"MP3 320 kbps stereo", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 320},
    };
    std::printf("%d-second tracks, best of 3; peak = resident memory above the level before the run\n",
                seconds);
    std::printf("%-34s %-22s | %-24s | %-21s | %s\n", "track", "extraction (stream)",
                "libsndfile whole-file", "reference decoder", "extraction / whole-file");
    for (int i = 0; i < list.size(); ++i) {
        const QString path = dir.filePath(QStringLiteral("track%1.%2").arg(i).arg(list[i].mp3Kbps > 0 ? "mp3" : "flac"));
        QString error;
        if (!writeBenchTrack(path, list[i], seconds, &error)) {
            std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), qPrintable(error));
            return 1;
        }
        benchTrack(path, list[i]);
        std::fflush(stdout);
    }
    benchPool(dir, dir.filePath("track0.flac"), tracks);
    return 0;
}
