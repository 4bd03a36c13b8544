// How long a big folder takes from "open folder" (or a drop) to the first
// track's start, and how much of that is listing, filtering and sorting,
// next to coreutils listing the same folder.
#include "AudioFileRule.h"
#include "BitPerfectAudioPlayer.h"
#include "Clock.h"
#include "DirectoryListing.h"
#include "FileIntake.h"
#include "PlayQueue.h"
#include "SimulatedAudioPlatform.h"
#include "Transport.h"
#include "WaveformLoader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

namespace {
constexpr int kEntries = 10000;
constexpr int kAudioEvery = 40; // 250 audio files among 10,000 entries

void fillFolder(const QString &dir)
{
    static const char *const kinds[] = {"wav", "FLAC", "mp3", "aiff", "Aif"};
    for (int i = 0; i < kEntries; ++i) {
        const bool audio = i % kAudioEvery == 0;
        const QString name = audio ? QStringLiteral("%1 track.%2").arg(kEntries - i).arg(kinds[i % 5])
                                   : QStringLiteral("note %1.txt").arg(i);
        QFile file(dir + "/" + name);
        file.open(QIODevice::WriteOnly);
    }
}

double millis(const QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e6; }

double lsMillis(const QString &dir)
{
    QElapsedTimer t;
    t.start();
    QProcess ls;
    ls.start(QStringLiteral("ls"), {QStringLiteral("-U"), dir});
    ls.waitForFinished();
    return millis(t);
}

// Time from the intake call until the engine is asked to play.
template<typename Call>
double untilFirstPlay(Call call)
{
    SimulatedAudioPlatform platform;
    platform.addDevice({1, QStringLiteral("Bench")});
    platform.setDefaultOutputDevice(1);
    BitPerfectAudioPlayer player(platform);
    WaveformLoader waveforms;
    PlayQueue queue;
    SteadyClock clock;
    Transport transport(queue, player, waveforms, clock);
    FileIntake intake(queue, transport, waveforms);
    QElapsedTimer t;
    double started = -1;
    QObject::connect(&player, &BitPerfectAudioPlayer::currentURLChanged, [&] {
        if (started < 0)
            started = millis(t);
    });
    t.start();
    call(intake);
    waveforms.cancelWaveformLoading();
    return started;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    fillFolder(dir.path());
    const QUrl folder = QUrl::fromLocalFile(dir.path());

    QElapsedTimer t;
    t.start();
    const auto entries = listDirectory(QFile::encodeName(dir.path()), nullptr, audiofilerule::isSupportedAudioFileName);
    const double listing = millis(t);
    t.restart();
    const QList<QUrl> accepted = audiofilerule::apply(*entries);
    const double rule = millis(t);

    const double viaFolder = untilFirstPlay([&](FileIntake &i) { i.openFolderURL(folder); });
    const double viaDrop = untilFirstPlay([&](FileIntake &i) { i.handleDrop({folder}); });
    const double ls = lsMillis(dir.path());

    std::printf("folder of %d entries, %lld audio\n", kEntries, qlonglong(accepted.size()));
    std::printf("  listing            %7.2f ms  (%.2f x `ls -U` %.2f ms)\n", listing, listing / ls, ls);
    std::printf("  rule and sort      %7.2f ms\n", rule);
    std::printf("  listing+rule+sort  %7.2f ms  (%.2f x the 50 ms budget)\n", listing + rule,
                (listing + rule) / 50.0);
    std::printf("  open folder -> first play  %7.2f ms  (listing+rule+sort %.0f %%)\n", viaFolder,
                100.0 * (listing + rule) / viaFolder);
    std::printf("  drop folder -> first play  %7.2f ms\n", viaDrop);
    return 0;
}
