#include "SoundServer.h"

#include <QDeadlineTimer>
#include <QByteArray>
#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/proplist.h>
#include <memory>

namespace {

struct Query
{
    ServerDefault answer;
    bool done = false;
};

int intProperty(const pa_proplist *properties, const char *key)
{
    const char *value = pa_proplist_gets(properties, key);
    bool ok = false;
    const int n = value ? QByteArray(value).toInt(&ok) : -1;
    return ok ? n : -1;
}

void onSink(pa_context *, const pa_sink_info *info, int eol, void *data)
{
    auto *query = static_cast<Query *>(data);
    if (info) {
        query->answer.card = intProperty(info->proplist, "alsa.card");
        query->answer.cardDevice = intProperty(info->proplist, "alsa.device");
    }
    if (eol != 0)
        query->done = true;
}

void onServer(pa_context *context, const pa_server_info *info, void *data)
{
    auto *query = static_cast<Query *>(data);
    query->answer.running = true;
    pa_operation *op = nullptr;
    if (info && info->default_sink_name)
        op = pa_context_get_sink_info_by_name(context, info->default_sink_name, onSink, data);
    if (op)
        pa_operation_unref(op);
    else
        query->done = true;
}

void onState(pa_context *context, void *data)
{
    auto *query = static_cast<Query *>(data);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        if (pa_operation *op = pa_context_get_server_info(context, onServer, data))
            pa_operation_unref(op);
        else
            query->done = true;
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        query->done = true;
        break;
    default:
        break;
    }
}

struct MainloopFree
{
    void operator()(pa_mainloop *m) const { pa_mainloop_free(m); }
};
struct ContextFree
{
    void operator()(pa_context *c) const
    {
        pa_context_disconnect(c);
        pa_context_unref(c);
    }
};

} // namespace

ServerDefault querySoundServerDefault(std::chrono::milliseconds timeout)
{
    const std::unique_ptr<pa_mainloop, MainloopFree> loop(pa_mainloop_new());
    if (!loop)
        return {};
    const std::unique_ptr<pa_context, ContextFree> context(
        pa_context_new(pa_mainloop_get_api(loop.get()), "QuorvelPlayer"));
    if (!context)
        return {};
    Query query;
    pa_context_set_state_callback(context.get(), onState, &query);
    if (pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return {};
    const QDeadlineTimer deadline(timeout);
    while (!query.done && !deadline.hasExpired()) {
        if (pa_mainloop_prepare(loop.get(), int(deadline.remainingTime()) * 1000) < 0
            || pa_mainloop_poll(loop.get()) < 0 || pa_mainloop_dispatch(loop.get()) < 0)
            break;
    }
    pa_context_set_state_callback(context.get(), nullptr, nullptr);
    return query.done ? query.answer : ServerDefault{};
}
