#include "engine/RtcApp.h"

#include "calls/Session.h"
#include "engine/RTCEvents.h"
#include "engine/Registration.h"
#include "phone/ControlIds.h"
#include "phone/Phone.h"

#include <cstdio>
#include <new>

using namespace rtc;

QString FormatErrorText(const char* pattern, HRESULT hr) {
    char buf[512];
    std::snprintf(buf, sizeof buf, pattern, static_cast<unsigned>(hr));
    return QString::fromLatin1(buf);
}

HRESULT InitializeRTCApp(Phone& phone, const ClientFactory& factory, QObject* target) {
    MainState& st = phone.st;

    IRTCClient* created = nullptr;
    HRESULT hr = factory ? factory(&created) : E_NOTIMPL;
    if (Failed(hr) || !created) {
        if (created)
            created->Release();
        if (!Failed(hr))
            hr = E_POINTER;
        phone.box.show(FormatErrorText("CoCreateInstance(CLSID_RTCClient) : Failed 0x%x", hr),
                       kRtcErrorTitle);
        return hr;
    }
    st.client = ComPtr<IRTCClient>::adopt(created);

    hr = st.client->Initialize();
    if (Failed(hr)) {
        phone.box.show(FormatErrorText("IRTCClient::Initialize : Failed 0x%x", hr), kRtcErrorTitle);
        return hr;
    }

    st.client->put_EventFilter(RTCEF_ALL_TO_PROFILE);

    if (st.client->put_ListenForIncomingSessions(RTCLM_BOTH) != S_OK) {
        st.client = nullptr;
        return -1;
    }

    auto* sink = new (std::nothrow) CRTCEvents;
    st.sink = sink;
    if (!sink) {
        st.client = nullptr;
        return -1;
    }

    ComPtr<IConnectionPointContainer> container;
    hr = st.client.as(container);
    if (Succeeded(hr)) {
        ComPtr<IConnectionPoint> point;
        hr = container->FindConnectionPoint(IID::IRTCEventNotification, point.put());
        container = nullptr;
        if (Succeeded(hr)) {
            hr = point->Advise(sink, &sink->cookie);
            point = nullptr;
        }
    }
    sink->target = target;

    if (sink->refCount() == 0) {
        // Nobody holds the sink when registering it failed: free it rather than leave it behind.
        sink->AddRef();
        sink->Release();
        st.sink = nullptr;
    }

    if (Failed(hr))
        phone.box.show(QStringLiteral("Link to RTC events Failed"));
    return hr;
}

LevelRange LevelRangeFromEvent(long min, long max) {
    const auto packed = static_cast<quint32>((static_cast<quint32>(min) & 0xFFFFu) |
                                             ((static_cast<quint32>(max) & 0xFFFFu) << 16));
    return {static_cast<int>(packed & 0xFFFFu), static_cast<int>(packed >> 16)};
}

void OnIntensityEvent(Phone& phone, IRTCIntensityEvent* event) {
    RTC_AUDIO_DEVICE direction = RTCAD_SPEAKER;
    if (Failed(event->get_Direction(&direction)))
        return;
    const bool speaker = direction == RTCAD_SPEAKER;
    const int bar = speaker ? ctl::SpeakerLevel : ctl::MicLevel;
    int& rangeSet = speaker ? phone.st.speakerRangeSet : phone.st.micRangeSet;
    if (!rangeSet) {
        long min = 0, max = 0;
        event->get_Min(&min);
        event->get_Max(&max);
        const LevelRange range = LevelRangeFromEvent(min, max);
        phone.view.setLevelRange(bar, range.min, range.max);
        rangeSet = 1;
    }
    long level = 0;
    event->get_Level(&level);
    phone.view.setLevel(bar, static_cast<int>(level));
}

namespace {
template <class I, class Handler> void WithInterface(const ComPtr<IUnknown>& event, Handler handler) {
    ComPtr<I> iface;
    if (event.as(iface) == S_OK && iface)
        handler(iface.get());
}
} // namespace

void DispatchEngineEvent(Phone& phone, int eventType, ComPtr<IUnknown> event) {
    switch (eventType) {
    case RTCE_REGISTRATION_STATE_CHANGE:
        WithInterface<IRTCRegistrationStateChangeEvent>(
            event, [&](IRTCRegistrationStateChangeEvent* e) { OnRegistrationStateChange(phone, e); });
        break;
    case RTCE_SESSION_STATE_CHANGE:
        WithInterface<IRTCSessionStateChangeEvent>(
            event, [&](IRTCSessionStateChangeEvent* e) { OnSessionStateChange(phone, e); });
        break;
    case RTCE_INTENSITY:
        WithInterface<IRTCIntensityEvent>(event, [&](IRTCIntensityEvent* e) { OnIntensityEvent(phone, e); });
        break;
    default:
        break;
    }
    // `event`, the message's reference, is released last, here.
}
