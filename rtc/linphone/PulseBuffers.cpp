#include "rtc/linphone/PulseBuffers.h"
#include "rtc/linphone/PulseGuard.h"

#include <dlfcn.h>
#include <pulse/stream.h>
#include <pulse/timeval.h>

namespace {

template <typename F> F next(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

uint32_t bytes(pa_stream* s, unsigned ms) {
    const pa_sample_spec* ss = pa_stream_get_sample_spec(s);
    return ss ? static_cast<uint32_t>(pa_usec_to_bytes(pa_usec_t{ms} * PA_USEC_PER_MSEC, ss))
              : static_cast<uint32_t>(-1);
}

} // namespace

extern "C" {

int pa_stream_connect_playback(pa_stream* s, const char* dev, const pa_buffer_attr* attr,
                               pa_stream_flags_t flags, const pa_cvolume* volume, pa_stream* syncStream) {
    using F = int (*)(pa_stream*, const char*, const pa_buffer_attr*, pa_stream_flags_t, const pa_cvolume*,
                      pa_stream*);
    static const F real = next<F>("pa_stream_connect_playback");
    if (!real)
        return -1;
    if (!attr || !pulseguard::fromDriver(__builtin_return_address(0)))
        return real(s, dev, attr, flags, volume, syncStream);
    pa_buffer_attr a = *attr;
    a.maxlength = static_cast<uint32_t>(-1);
    a.tlength = bytes(s, pulsebuffers::kPlaybackMs);
    a.minreq = static_cast<uint32_t>(-1);
    a.prebuf = static_cast<uint32_t>(-1);
    return real(s, dev, &a, flags, volume, syncStream);
}

int pa_stream_connect_record(pa_stream* s, const char* dev, const pa_buffer_attr* attr,
                             pa_stream_flags_t flags) {
    using F = int (*)(pa_stream*, const char*, const pa_buffer_attr*, pa_stream_flags_t);
    static const F real = next<F>("pa_stream_connect_record");
    if (!real)
        return -1;
    if (!attr || !pulseguard::fromDriver(__builtin_return_address(0)))
        return real(s, dev, attr, flags);
    pa_buffer_attr a = *attr;
    a.maxlength = static_cast<uint32_t>(-1);
    a.fragsize = bytes(s, pulsebuffers::kCaptureFragmentMs);
    return real(s, dev, &a, flags);
}

} // extern "C"

namespace pulsebuffers {

bool active() {
    return ::dlsym(RTLD_DEFAULT, "pa_stream_connect_record") ==
           reinterpret_cast<void*>(&::pa_stream_connect_record);
}

} // namespace pulsebuffers
