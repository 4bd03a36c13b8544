// Album playback as a listener meets it, through a real-time ALSA PCM (the
// test DAC plugin, which consumes frames at the stream's rate):
//
//  1. The GUI thread's worst stall while an album plays through the queue:
//     the worst lateness of a 16 ms timer from the first track's start to the
//     last track's end, beside the same timer's worst lateness while nothing
//     plays (the machine's own noise).
//  2. What a listener hears of a click in a playing 10-minute 24/96 FLAC,
//     read from a DAC that logs when each transfer is handed over and what
//     was playing then: from the click until the clicked frame is handed
//     over, and until it plays (what was queued ahead of it plays first);
//     for a seek in memory, a click on the queue's preloaded next row, the
//     same file under another name (read again, what every seek cost before
//     tracks stayed in memory), and from Stop until the DAC falls silent.
//
// Prints figures and ratios; asserts nothing.
//   album_bench [directory for the generated material]
#include "AlsaAudioPlatform.h"
#include "AlsaDeviceList.h"
#include "BenchFiles.h"
#include "BitPerfectAudioPlayer.h"
#include "Clock.h"
#include "FileIntake.h"
#include "PlayQueue.h"
#include "Transport.h"
#include "WaveformLoader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sndfile.h>
#include <vector>
#include <unistd.h>

namespace {

bool installAlsaConfiguration(const QString &dir)
{
    QFile file(dir + "/asound-bench.conf");
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray at = QFile::encodeName(dir);
    file.write("pcm_type.quorveltestdac { lib \"" QUORVEL_TEST_DAC_PLUGIN "\" }\n"
               "pcm.bench_dac { type file slave.pcm { type quorveltestdac } file \"/dev/null\"\n"
               "  format \"raw\" hint { show on description \"Bench DAC\" } }\n"
               "pcm.bench_dac_timed { type file slave.pcm { type quorveltestdac record \"" + at
               + "/dac-received.raw\" timing \"" + at + "/dac-timing.bin\" } file \"/dev/null\"\n"
                 "  format \"raw\" hint { show on description \"Bench DAC, timed\" } }\n");
    file.close();
    qputenv("ALSA_CONFIG_PATH", "/usr/share/alsa/alsa.conf:" + QFile::encodeName(file.fileName()));
    return true;
}

// The worst lateness of a 16 ms timer while `done` is false.
double worstTimerLatenessMs(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    double worst = 0.0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(16);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worst = std::max(worst, double(now - last) / 1e6 - 16.0);
        last = now;
    });
    timer.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return worst;
}

void guiStallOverAnAlbum(const QString &dir, quint32 device)
{
    QList<QUrl> album;
    for (int i = 0; i < 4; ++i) {
        const QString path = dir + QStringLiteral("/album-%1.flac").arg(i);
        QString error;
        if (!QFile::exists(path)
            && !writeBenchTrack(path, {path, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 96000, 0}, 3, &error)) {
            std::printf("cannot write %s: %s\n", qPrintable(path), qPrintable(error));
            return;
        }
        album << QUrl::fromLocalFile(path);
    }
    const double idle = worstTimerLatenessMs([] { return false; }, 3000);

    AlsaAudioPlatform platform(nullptr, dir + "/no-device-nodes");
    BitPerfectAudioPlayer player(platform);
    WaveformLoader waveforms;
    PlayQueue queue;
    SteadyClock clock;
    Transport transport(queue, player, waveforms, clock);
    FileIntake intake(queue, transport, waveforms);
    player.setOutputDevice(device);
    intake.loadPlaylist(album);
    worstTimerLatenessMs([&] { return player.isPlaying(); }, 10000);
    const double playing = worstTimerLatenessMs(
        [&] { return queue.currentIndex() == album.size() - 1 && !player.isPlaying() && !player.isLoading(); },
        60000);
    waveforms.cancelWaveformLoading();
    std::printf("GUI thread, worst 16 ms timer lateness over a 4-track 24/96 FLAC album: %.1f ms"
                " (idle machine: %.1f ms)\n",
                playing, idle);
}

// What the timed DAC logs of one transfer, or of its stop (firstFrame < 0);
// see the plugin.
struct Transfer
{
    qint64 nanoseconds, firstFrame, frames, playing;
};

constexpr double kRate = 96000.0;
constexpr qint64 kFrameBytes = 8; // S32_LE stereo: how the DAC takes a 24-bit track
// The frames looked for lie this far after the clicked one, so that a start
// a few frames away from the computed target still holds them.
constexpr qint64 kProbeOffset = 1024;

qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Runs the event loop for `ms` without spinning.
void pump(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// What the DAC logged from `since` on. Its log and record start afresh each
// time the device is configured, so older lines are gone or skipped here.
std::vector<Transfer> transfersSince(const QString &dir, qint64 since)
{
    QFile file(dir + "/dac-timing.bin");
    const QByteArray log = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    std::vector<Transfer> all(std::size_t(log.size()) / sizeof(Transfer));
    std::memcpy(all.data(), log.constData(), all.size() * sizeof(Transfer));
    std::erase_if(all, [since](const Transfer &t) { return t.nanoseconds < since; });
    return all;
}

// The device's frames at `frame` of the file, as bytes to look for in what
// the DAC recorded.
QByteArray deviceFramesAt(const QString &path, qint64 frame)
{
    SF_INFO info{};
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    std::vector<int> frames(64 * std::size_t(std::max(info.channels, 1)));
    if (file && sf_seek(file, frame, SEEK_SET) == frame)
        frames.resize(std::size_t(sf_readf_int(file, frames.data(), 64) * info.channels));
    if (file)
        sf_close(file);
    return QByteArray(reinterpret_cast<const char *>(frames.data()), qsizetype(frames.size() * sizeof(int)));
}

// The record's frame where `wanted` begins, looking only at what `log` says
// was handed over: every transfer cuts the record at its start, so all from
// the earliest of them on was written after the log began. -1: not there yet.
qint64 findHanded(const QString &dir, const std::vector<Transfer> &log, const QByteArray &wanted)
{
    qint64 from = -1;
    for (const Transfer &t : log) {
        if (t.firstFrame >= 0 && (from < 0 || t.firstFrame < from))
            from = t.firstFrame;
    }
    QFile file(dir + "/dac-received.raw");
    if (from < 0 || !file.open(QIODevice::ReadOnly) || !file.seek(from * kFrameBytes))
        return -1;
    const QByteArray handed = file.readAll();
    for (qsizetype hit = handed.indexOf(wanted); hit >= 0; hit = handed.indexOf(wanted, hit + 1)) {
        if (hit % kFrameBytes == 0)
            return from + hit / kFrameBytes;
    }
    return -1;
}

struct Heard
{
    double handedMs = -1, playedMs = -1;
};

// When the record's frame `at` was handed over and when it played, after
// `click`: the last transfer that carried it wrote what the record holds
// there (earlier ones were taken back), and says what was playing then.
Heard whenPlayed(const std::vector<Transfer> &log, qint64 at, qint64 click)
{
    for (auto t = log.rbegin(); t != log.rend(); ++t) {
        if (t->firstFrame >= 0 && t->firstFrame <= at && at < t->firstFrame + t->frames) {
            const double handed = double(t->nanoseconds - click) / 1e6;
            return {handed, handed + double(std::max<qint64>(0, at - t->playing)) / kRate * 1e3};
        }
    }
    return {};
}

// Runs `click`, which asks for `frame` of the file at `path`, then reads from
// the DAC when that frame was handed over and when it played.
Heard clickToHeard(const std::function<void()> &click, const QString &dir, const QString &path, qint64 frame)
{
    const QByteArray wanted = deviceFramesAt(path, frame + kProbeOffset);
    const qint64 clicked = monotonicNs();
    click();
    QElapsedTimer clock;
    clock.start();
    while (findHanded(dir, transfersSince(dir, clicked), wanted) < 0 && clock.elapsed() < 60000)
        pump(5);
    pump(300); // the frame plays out of the buffer meanwhile
    const std::vector<Transfer> log = transfersSince(dir, clicked);
    const qint64 found = findHanded(dir, log, wanted);
    return found < 0 ? Heard{} : whenPlayed(log, found - kProbeOffset, clicked);
}

// From `stop()` to the end of what the DAC played: its stop, unless what it
// had been handed ran out first.
double stopToSilenceMs(BitPerfectAudioPlayer &player, const QString &dir)
{
    const qint64 stopped = monotonicNs();
    player.stop();
    pump(500);
    qint64 end = -1, playedOut = 0;
    for (const Transfer &t : transfersSince(dir, stopped - 1'000'000'000)) {
        if (t.firstFrame < 0 && t.nanoseconds >= stopped && end < 0)
            end = t.nanoseconds;
        else if (t.firstFrame >= 0)
            playedOut = std::max(playedOut, t.nanoseconds + qint64(double(t.firstFrame + t.frames - t.playing)
                                                                    / kRate * 1e9));
    }
    end = end < 0 ? playedOut : std::min(end, playedOut);
    return double(end - stopped) / 1e6;
}

void worst(Heard &sofar, const Heard &now)
{
    sofar.handedMs = std::max(sofar.handedMs, now.handedMs);
    sofar.playedMs = std::max(sofar.playedMs, now.playedMs);
}

// Clicks on `path` from memory, the track preloaded as the queue's next row
// (a file under another name than the one playing).
Heard clickPreloaded(BitPerfectAudioPlayer &player, const QString &dir, const QString &path, double fraction)
{
    const QUrl url = QUrl::fromLocalFile(path);
    player.preloadNext(url);
    QElapsedTimer clock;
    clock.start();
    while (player.preloadedURL() != url && clock.elapsed() < 60000)
        pump(20);
    const qint64 frame = qint64(fraction * double(player.totalFrames()));
    return clickToHeard([&] { player.playBitPerfect(url, fraction); }, dir, path, frame);
}

void seekLatency(const QString &dir)
{
    const QString path = dir + "/seek-24-96.flac";
    QString error;
    if (!QFile::exists(path)
        && !writeBenchTrack(path, {path, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 96000, 0}, 600, &error)) {
        std::printf("cannot write %s: %s\n", qPrintable(path), qPrintable(error));
        return;
    }
    const QString other = dir + "/seek-24-96-again.flac";
    QFile::remove(other);
    if (link(QFile::encodeName(path).constData(), QFile::encodeName(other).constData()) != 0)
        QFile::copy(path, other);

    AlsaAudioPlatform platform(nullptr, dir + "/no-device-nodes");
    BitPerfectAudioPlayer player(platform);
    player.setOutputDevice(deviceIdForPcm("bench_dac_timed"));
    const auto clickAt = [&](const QString &file, double fraction) {
        const QUrl url = QUrl::fromLocalFile(file);
        const qint64 frame = qint64(fraction * double(player.totalFrames()));
        return clickToHeard([&] { player.playBitPerfect(url, fraction); }, dir, file, frame);
    };
    const Heard first = clickAt(path, 0.0);
    Heard inMemory, nextRow, reread;
    for (const double fraction : {0.5, 0.25, 0.75})
        worst(inMemory, clickAt(path, fraction));
    worst(nextRow, clickPreloaded(player, dir, other, 0.5));
    worst(nextRow, clickPreloaded(player, dir, path, 0.25));
    for (const double fraction : {0.5, 0.25}) {
        worst(reread, clickAt(other, fraction));
        clickAt(path, 0.0); // back to the first name: read again
    }
    const double stop = stopToSilenceMs(player, dir);
    std::printf("10-minute 24/96 FLAC through the timed DAC, from the click to the clicked frame handed"
                " over / heard (worst of the clicks; a negative figure: not found):\n"
                "  first start %.1f / %.1f ms\n  seek in memory %.1f / %.1f ms\n"
                "  another row, preloaded %.1f / %.1f ms\n  another name, read again %.1f / %.1f ms"
                " (seek in memory %.3f x)\n  Stop to silence %.1f ms\n",
                first.handedMs, first.playedMs, inMemory.handedMs, inMemory.playedMs, nextRow.handedMs,
                nextRow.playedMs, reread.handedMs, reread.playedMs, inMemory.playedMs / reread.playedMs, stop);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir scratch;
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : scratch.path();
    QDir().mkpath(dir);
    if (!installAlsaConfiguration(dir))
        return 1;
    guiStallOverAnAlbum(dir, deviceIdForPcm("bench_dac"));
    seekLatency(dir);
    return 0;
}
