#include "engine/RTCEvents.h"

#include <QCoreApplication>

#include <utility>

EngineEventMessage::~EngineEventMessage() {
    if (event_)
        event_->Release();
}

rtc::ComPtr<rtc::IUnknown> EngineEventMessage::takeEvent() {
    return rtc::ComPtr<rtc::IUnknown>::adopt(std::exchange(event_, nullptr));
}

rtc::HRESULT CRTCEvents::QueryInterface(rtc::IID iid, void** out) {
    if (!out)
        return rtc::E_POINTER;
    if (iid == rtc::IID::IRTCEventNotification || iid == rtc::IID::IUnknown) {
        *out = static_cast<rtc::IRTCEventNotification*>(this);
        AddRef();
        return rtc::S_OK;
    }
    *out = nullptr;
    return rtc::E_NOINTERFACE;
}

rtc::ULONG CRTCEvents::AddRef() {
    return static_cast<rtc::ULONG>(++refCount_);
}

rtc::ULONG CRTCEvents::Release() {
    const std::int32_t n = --refCount_;
    if (n == 0)
        delete this;
    return static_cast<rtc::ULONG>(n);
}

rtc::HRESULT CRTCEvents::Event(rtc::RTC_EVENT type, rtc::IUnknown* event) {
    if (!event)
        return rtc::S_OK;
    event->AddRef();
    if (target)
        QCoreApplication::postEvent(target, new EngineEventMessage(type, event));
    else
        event->Release(); // nowhere to deliver it: give the reference back at once
    return rtc::S_OK;
}
