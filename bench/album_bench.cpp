// Album playback as a listener meets it, through a real-time ALSA PCM (the
// test DAC plugin, which consumes frames at the stream's rate):
//
//  1. The GUI thread's worst stall while an album plays through the queue:
//     the worst lateness of a 16 ms timer from the first track's start to the
//     last track's end, beside the same timer's worst lateness while nothing
//     plays (the machine's own noise).
//  2. Click-to-new-frame for a seek inside a 10-minute 24/96 FLAC: the time
//     from the click until the device has been handed the target frame,
//     beside the same click on the same file under another name, which has
//     to be read again (what every seek cost before tracks stayed in memory).
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
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <sndfile.h>
#include <unistd.h>

namespace {

bool installAlsaConfiguration(const QString &dir)
{
    QFile file(dir + "/asound-bench.conf");
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("pcm_type.quorveltestdac { lib \"" QUORVEL_TEST_DAC_PLUGIN "\" }\n"
               "pcm.bench_dac { type file slave.pcm { type quorveltestdac } file \"/dev/null\"\n"
               "  format \"raw\" hint { show on description \"Bench DAC\" } }\n");
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

double clickToFrameMs(BitPerfectAudioPlayer &player, const QUrl &url, double fraction, qint64 target)
{
    QElapsedTimer clock;
    clock.start();
    player.playBitPerfect(url, fraction);
    while (!(player.isPlaying() && player.currentFrame() > target) && clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    return double(clock.nsecsElapsed()) / 1e6;
}

void seekLatency(const QString &dir, quint32 device)
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
    player.setOutputDevice(device);
    const QUrl url = QUrl::fromLocalFile(path);
    clickToFrameMs(player, url, 0.0, 0);
    const qint64 total = player.totalFrames();
    double inMemory = 0.0, reread = 0.0;
    for (const double fraction : {0.5, 0.25, 0.75}) {
        inMemory = std::max(inMemory, clickToFrameMs(player, url, fraction, qint64(fraction * total)));
    }
    for (const double fraction : {0.5, 0.25}) {
        reread = std::max(reread, clickToFrameMs(player, QUrl::fromLocalFile(other), fraction,
                                                 qint64(fraction * total)));
        clickToFrameMs(player, url, 0.0, 0); // back to the first name: read again
    }
    player.stop();
    std::printf("Seek in a 10-minute 24/96 FLAC, click to target frame at the device:"
                " %.1f ms in memory, %.1f ms read again (%.3f x)\n",
                inMemory, reread, inMemory / reread);
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
    const quint32 device = deviceIdForPcm("bench_dac");
    guiStallOverAnAlbum(dir, device);
    seekLatency(dir, device);
    return 0;
}
