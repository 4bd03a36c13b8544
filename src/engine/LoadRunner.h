#pragma once

#include "TrackLoadWorker.h"

#include <QObject>
#include <functional>
#include <memory>

// Where the track pipeline's loads run: on the load worker's thread
// (workerLoads), or at once on the caller's (loadsAtOnce: tests and
// measurements that need a load's outcome before the call that asked for it
// returns).
//
// GUI thread only. Results reach the handlers on the GUI thread, never for a
// cancelled ticket.
class LoadRunner : public QObject
{
public:
    using Result = TrackLoadWorker::Result;
    using Priority = TrackLoadWorker::Priority;
    struct Handlers
    {
        std::function<void(quint64 ticket, Result result)> finished;
        // The format a load to play will have, read from its header before
        // it decodes; not every runner tells.
        std::function<void(quint64 ticket, const StreamFormat &format)> formatKnown;
    };

    using QObject::QObject;

    // GUI thread, before the first start().
    virtual void setHandlers(Handlers handlers) = 0;
    // GUI thread. Reads `path` (the file system's bytes) as the load named
    // `ticket`, the caller's and never 0. A load to play supersedes every
    // other, a preload only older preloads (TrackLoadWorker).
    virtual void start(quint64 ticket, const QByteArray &path, Priority priority) = 0;
    // GUI thread. A preload that is now wanted for playing.
    virtual void promote(quint64 ticket) = 0;
    // GUI thread. The load is forgotten: stopped if it runs.
    virtual void cancel(quint64 ticket) = 0;
};

// Loads on a worker thread, one at a time; one that hangs is abandoned to
// its thread.
std::unique_ptr<LoadRunner> workerLoads(TrackLoadWorker::LoadFunction load = loadTrack);
// Loads within start(), whose handler has run by the time it returns.
std::unique_ptr<LoadRunner> loadsAtOnce(TrackLoadWorker::LoadFunction load = loadTrack);
