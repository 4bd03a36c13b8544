#include "LoadRunner.h"

#include <QHash>

namespace {

// The longest a load may take before it counts as hung: far beyond what the
// largest track the block can hold (4 GiB of float) takes to decode on a busy
// machine, since giving up on a real track is worse than waiting for it.
constexpr auto kLoadPatience = std::chrono::minutes(2);

class WorkerLoads final : public LoadRunner
{
public:
    explicit WorkerLoads(TrackLoadWorker::LoadFunction load)
        : m_worker(new TrackLoadWorker(
              std::move(load), [this](quint64 ticket, Result result) { finished(ticket, std::move(result)); },
              kLoadPatience, this))
    {
    }
    // The worker goes first, so that no result reaches a half-gone runner.
    ~WorkerLoads() override { delete m_worker; }

    void setHandlers(Handlers handlers) override
    {
        m_handlers = std::move(handlers);
        m_worker->setFormatProbe(loadedFormatOf, [this](quint64 ticket, const StreamFormat &format) {
            if (const quint64 ours = ticketOf(ticket))
                m_handlers.formatKnown(ours, format);
        });
    }
    void start(quint64 ticket, const QByteArray &path, Priority priority) override
    {
        m_tickets.insert(ticket, m_worker->request(path, priority));
    }
    void promote(quint64 ticket) override { m_worker->promote(m_tickets.value(ticket)); }
    void cancel(quint64 ticket) override { m_worker->cancel(m_tickets.take(ticket)); }

private:
    // The caller's ticket for the worker's; 0 for one no longer wanted.
    quint64 ticketOf(quint64 workerTicket) const { return m_tickets.key(workerTicket, 0); }
    void finished(quint64 workerTicket, Result result)
    {
        if (const quint64 ours = ticketOf(workerTicket)) {
            m_tickets.remove(ours);
            m_handlers.finished(ours, std::move(result));
        }
    }

    Handlers m_handlers;
    QHash<quint64, quint64> m_tickets; // the caller's ticket to the worker's
    TrackLoadWorker *m_worker = nullptr;
};

class LoadsAtOnce final : public LoadRunner
{
public:
    explicit LoadsAtOnce(TrackLoadWorker::LoadFunction load)
        : m_load(std::move(load))
    {
    }
    void setHandlers(Handlers handlers) override { m_handlers = std::move(handlers); }
    void start(quint64 ticket, const QByteArray &path, Priority) override
    {
        const FileStamp stamp = fileStampOf(path);
        m_handlers.finished(ticket, Result(m_load(path, {}), stamp));
    }
    void promote(quint64) override {}
    void cancel(quint64) override {}

private:
    TrackLoadWorker::LoadFunction m_load;
    Handlers m_handlers;
};

} // namespace

std::unique_ptr<LoadRunner> workerLoads(TrackLoadWorker::LoadFunction load)
{
    return std::make_unique<WorkerLoads>(std::move(load));
}

std::unique_ptr<LoadRunner> loadsAtOnce(TrackLoadWorker::LoadFunction load)
{
    return std::make_unique<LoadsAtOnce>(std::move(load));
}
