#pragma once

#include "FileStamp.h"
#include "TrackLoader.h"

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

class StallGuardedWorker;

// Reads tracks into memory on a worker thread, one at a time, so that the
// window never waits on a decoder.
//
// A request to play supersedes everything before it: a load in flight is
// told to stop (it gives up within one decode chunk and frees its memory on
// the worker at once) and queued ones are dropped, so quick clicks leave one
// load and one block behind. A preload (the next track of an album) gives way
// to a load to play and is superseded only by another preload.
//
// A load that has not finished after `patience` is reported as failed and
// abandoned: its thread is left to finish or hang on its own, a new thread
// takes the queue, and destruction never waits for it.
//
// GUI thread only; results arrive on it through `onFinished`, never for a
// cancelled ticket.
class TrackLoadWorker : public QObject
{
    Q_OBJECT
public:
    using LoadFunction = std::function<TrackLoad(const QByteArray &, std::stop_token)>;
    enum class Priority { Play, Preload };
    struct Result
    {
        Result() = default;
        Result(TrackLoad load, FileStamp stamp);
        std::optional<LoadedTrack> track;
        FileStamp stamp; // the file as it was when its load began
        LoadProblem problem = LoadProblem::Unreadable; // why there is no track
    };
    using FinishedHandler = std::function<void(quint64 ticket, Result result)>;
    using ProbeFunction = std::function<std::optional<StreamFormat>(const QByteArray &)>;
    using FormatHandler = std::function<void(quint64 ticket, const StreamFormat &format)>;

    explicit TrackLoadWorker(LoadFunction load, FinishedHandler onFinished,
                             std::chrono::milliseconds patience = std::chrono::seconds(30),
                             QObject *parent = nullptr);
    // Stops what runs, waits a moment for it, and leaves a hung load behind.
    ~TrackLoadWorker() override;

    // A ticket, never 0, that names the request in onFinished.
    // `path` is the file system's bytes (TrackPath.h).
    quint64 request(const QByteArray &path, Priority priority);
    // A preload that is now wanted for playing: later preloads leave it be.
    void promote(quint64 ticket);
    // The request is forgotten: stopped if it runs, dropped if it waits.
    void cancel(quint64 ticket);
    // From now on, before a load runs, `probe` reads from the file's header
    // the format the track will have, and `onFormat` hears of it on the GUI
    // thread once the load is to play, from the start or since its promotion
    // (never for a cancelled ticket): the device can be made ready while the
    // track decodes.
    void setFormatProbe(ProbeFunction probe, FormatHandler onFormat);

private:
    struct Lane;
    void startLane();
    void cancelWhere(const std::function<bool(Priority)> &which);
    void deliver(quint64 ticket, Result result);
    void checkPatience();
    void takeQueueOf(Lane &previous);

    LoadFunction m_load;
    FinishedHandler m_onFinished;
    ProbeFunction m_probe;
    FormatHandler m_onFormat;
    std::chrono::milliseconds m_patience;
    std::shared_ptr<Lane> m_lane;
    std::shared_ptr<StallGuardedWorker> m_thread; // null when none could be had
    quint64 m_lastTicket = 0;
    QTimer m_watchdog;
};
