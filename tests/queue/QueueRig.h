#pragma once

// The queue's collaborators wired as the main screen wires them, over the
// simulated audio platform and a clock that moves only when told to.
#include "BitPerfectAudioPlayer.h"
#include "Clock.h"
#include "FileIntake.h"
#include "PlayQueue.h"
#include "SimulatedAudioPlatform.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TrackLoader.h"
#include "TrackPath.h"
#include "Transport.h"
#include "WaveformLoader.h"

#include <mutex>

class ManualClock final : public Clock
{
public:
    double now() const override { return m_now; }
    void advance(double seconds) { m_now += seconds; }

private:
    double m_now = 1000.0;
};

// Where the engine's loads run: on its worker, or at once.
enum class LoadMode { Background, Inline };

// The files the engine loads, from whichever thread loads them.
class LoadLog
{
public:
    TrackLoadWorker::LoadFunction loader()
    {
        return [this](const QByteArray &path, std::stop_token stop) {
            {
                std::lock_guard lock(m_mutex);
                m_paths.append(path);
            }
            return loadTrack(path, stop);
        };
    }

    qsizetype timesLoaded(const QUrl &url) const
    {
        std::lock_guard lock(m_mutex);
        return m_paths.count(trackpath::bytesOf(url));
    }

private:
    mutable std::mutex m_mutex;
    QByteArrayList m_paths;
};

struct QueueRig
{
    // Inline unless a test is about loading in the background: the engine
    // has then started or failed before each command returns.
    explicit QueueRig(LoadMode mode = LoadMode::Inline)
        : player(platform, mode == LoadMode::Inline ? loadsAtOnce(loads.loader()) : workerLoads(loads.loader()))
    {
        platform.addDevice({1, QStringLiteral("Speakers")});
        platform.setDefaultOutputDevice(1);
        player.setOutputDevice(1);
        QObject::connect(&player, &BitPerfectAudioPlayer::isLoadingChanged, &waveforms,
                         [this] { waveforms.yieldToPlayback(player.isLoading()); });
        QObject::connect(&player, &BitPerfectAudioPlayer::trackInMemory, &waveforms,
                         [this](const QUrl &url, std::shared_ptr<const TrackBlock> block, StreamFormat format,
                                qint64 frames) { waveforms.loadWaveformFromMemory(url, {block, format, frames}); });
    }

    // A 16-bit stereo WAV of `frames` frames at 44.1 kHz whose samples differ
    // from every other track's, so captures can tell them apart.
    QUrl track(const QString &name, qint64 frames = 4410)
    {
        return testaudio::writeTrack(dir->filePath(name),
                                     {.frames = frames, .signal = testaudio::Signal::Noise, .seed = ++nextSeed});
    }

    QList<QUrl> threeTracks() { return {track("1.wav"), track("2.wav"), track("3.wav")}; }

    // A file that no decoder accepts.
    QUrl brokenTrack(const QString &name)
    {
        const QString path = dir->filePath(name);
        testfiles::writeAll(path, QByteArrayLiteral("RIFF\x10\x00\x00\x00WAVEjunk that is not audio"));
        return QUrl::fromLocalFile(path);
    }

    QByteArray dataOf(const QUrl &url) { return testaudio::rawData(url.toLocalFile()); }

    quint32 nextSeed = 100;
    std::unique_ptr<QTemporaryDir> dir = testaudio::makeTempDir();
    SimulatedAudioPlatform platform;
    LoadLog loads;
    BitPerfectAudioPlayer player;
    WaveformLoader waveforms;
    PlayQueue queue;
    ManualClock clock;
    Transport transport{queue, player, waveforms, clock};
    FileIntake intake{queue, transport, waveforms};
};
