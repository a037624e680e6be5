#include "rtc/linphone/ServerDefaults.h"

#include <pulse/pulseaudio.h>

#include <chrono>

namespace serverdefaults {

namespace {

struct Query {
    int pending = 0; // answers still awaited once the context is ready
    bool asked = false;
    bool failed = false;
    Devices found;
};

void onSink(pa_context*, const pa_sink_info* info, int eol, void* data) {
    auto* q = static_cast<Query*>(data);
    if (eol != 0) {
        --q->pending;
        return;
    }
    if (info && info->description)
        q->found.sink = info->description;
}

void onSource(pa_context*, const pa_source_info* info, int eol, void* data) {
    auto* q = static_cast<Query*>(data);
    if (eol != 0) {
        --q->pending;
        return;
    }
    // The driver does not offer monitors as microphones.
    if (info && info->description && info->monitor_of_sink == PA_INVALID_INDEX)
        q->found.source = info->description;
}

void unref(pa_operation* op) {
    if (op)
        pa_operation_unref(op);
}

void onServer(pa_context* c, const pa_server_info* info, void* data) {
    auto* q = static_cast<Query*>(data);
    --q->pending;
    if (!info)
        return;
    if (info->default_sink_name && *info->default_sink_name) {
        ++q->pending;
        unref(pa_context_get_sink_info_by_name(c, info->default_sink_name, onSink, q));
    }
    if (info->default_source_name && *info->default_source_name) {
        ++q->pending;
        unref(pa_context_get_source_info_by_name(c, info->default_source_name, onSource, q));
    }
}

void onState(pa_context* c, void* data) {
    auto* q = static_cast<Query*>(data);
    switch (pa_context_get_state(c)) {
    case PA_CONTEXT_READY:
        if (!q->asked) {
            q->asked = true;
            ++q->pending;
            unref(pa_context_get_server_info(c, onServer, q));
        }
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        q->failed = true;
        break;
    default:
        break;
    }
}

} // namespace

Devices query(int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pa_mainloop* loop = pa_mainloop_new();
    if (!loop)
        return {};
    Query q;
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "orvane-softphone");
    if (context) {
        pa_context_set_state_callback(context, onState, &q);
        // Never start a server: only the one the desktop runs counts.
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
            while (!q.failed && !(q.asked && q.pending == 0)) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
                if (left <= 0 || pa_mainloop_prepare(loop, static_cast<int>(left)) < 0 ||
                    pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0)
                    break;
            }
            pa_context_disconnect(context);
        }
        pa_context_unref(context);
    }
    pa_mainloop_free(loop);
    if (!q.asked || q.pending != 0)
        return {};
    return q.found;
}

} // namespace serverdefaults
