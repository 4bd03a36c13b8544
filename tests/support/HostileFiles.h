#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <vector>

// Reproducers, written by code, of every way a hostile file hurt the loaders,
// and of the legal files that were wrongly refused.
namespace hostile {

struct Reproducer
{
    const char *name;                           // also the file name: its extension names the family
    std::function<bool(const QString &)> write; // puts the file at the path
    qint64 loadedFrames;                        // what the track loader holds; -1 when it refuses
    bool waveformFails;
};

std::vector<Reproducer> reproducers();

// A WAV of the given format tag with `data` as its data chunk, after `chunks`.
QByteArray wavFile(quint16 formatTag, quint16 channels, quint32 rate, quint16 bits, const QByteArray &data,
                   const QByteArray &chunks = {});
// Rewrites STREAMINFO's 36-bit total sample count (0 is "unknown").
bool setFlacTotalFrames(const QString &path, quint64 total);
// Removes the MPEG-1 layer III frame at the start of the file when it holds
// the encoder's Xing/Info header, leaving a stream without a frame count.
bool dropXingFrame(const QString &path);

// Runs `work` on a thread of its own; still running after 30 s, it ends the
// test run at once instead of stalling it until ctest's timeout.
template<typename Work>
auto underWatchdog(Work work)
{
    using Result = decltype(work());
    auto task = std::make_shared<std::packaged_task<Result()>>(std::move(work));
    std::future<Result> done = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    if (done.wait_for(std::chrono::seconds(30)) != std::future_status::ready)
        qFatal("still running after 30 s: a hostile file hangs the code under test");
    return done.get();
}

} // namespace hostile
