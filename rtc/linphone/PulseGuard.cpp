#include "rtc/linphone/PulseGuard.h"

#include <atomic>
#include <cstring>
#include <dlfcn.h>

struct pa_stream;
struct pa_threaded_mainloop;

namespace {

// libpulse's own functions, found after the program in the dynamic linker's order.
struct Pulse {
    void (*unref)(pa_stream*) = nullptr;
    pa_threaded_mainloop* (*newLoop)() = nullptr;
    void (*freeLoop)(pa_threaded_mainloop*) = nullptr;
    void (*lock)(pa_threaded_mainloop*) = nullptr;
    void (*unlock)(pa_threaded_mainloop*) = nullptr;
    int (*inThread)(pa_threaded_mainloop*) = nullptr;
};

template <typename F> void find(F& f, const char* name) {
    f = reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

const Pulse& pulse() {
    static const Pulse p = [] {
        Pulse r;
        find(r.unref, "pa_stream_unref");
        find(r.newLoop, "pa_threaded_mainloop_new");
        find(r.freeLoop, "pa_threaded_mainloop_free");
        find(r.lock, "pa_threaded_mainloop_lock");
        find(r.unlock, "pa_threaded_mainloop_unlock");
        find(r.inThread, "pa_threaded_mainloop_in_thread");
        return r;
    }();
    return p;
}

// The driver keeps one main loop at a time; it is made and freed on the thread that loads the
// sound cards, and read on the threads that run sound.
std::atomic<pa_threaded_mainloop*> driverLoop{nullptr};
std::atomic<long long> guarded{0};

} // namespace

bool pulseguard::fromDriver(const void* returnAddress) {
    Dl_info info{};
    return ::dladdr(returnAddress, &info) != 0 && info.dli_fname &&
           std::strstr(info.dli_fname, "libmediastreamer") != nullptr;
}

extern "C" {

pa_threaded_mainloop* pa_threaded_mainloop_new() {
    const Pulse& p = pulse();
    if (!p.newLoop)
        return nullptr;
    pa_threaded_mainloop* loop = p.newLoop();
    if (loop && pulseguard::fromDriver(__builtin_return_address(0)))
        driverLoop.store(loop);
    return loop;
}

void pa_threaded_mainloop_free(pa_threaded_mainloop* loop) {
    pa_threaded_mainloop* expected = loop;
    driverLoop.compare_exchange_strong(expected, nullptr);
    if (const Pulse& p = pulse(); p.freeLoop)
        p.freeLoop(loop);
}

void pa_stream_unref(pa_stream* stream) {
    const Pulse& p = pulse();
    if (!p.unref)
        return; // only libpulse's callers get here, and they have it loaded
    pa_threaded_mainloop* loop = driverLoop.load();
    if (loop && p.lock && p.unlock && p.inThread && !p.inThread(loop) &&
        pulseguard::fromDriver(__builtin_return_address(0))) {
        p.lock(loop);
        p.unref(stream);
        p.unlock(loop);
        guarded.fetch_add(1);
        return;
    }
    p.unref(stream);
}

} // extern "C"

namespace pulseguard {

bool active() {
    return ::dlsym(RTLD_DEFAULT, "pa_stream_unref") == reinterpret_cast<void*>(&::pa_stream_unref);
}

long long guardedUnrefs() {
    return guarded.load();
}

} // namespace pulseguard
