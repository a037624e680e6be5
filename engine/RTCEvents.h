// The engine's event sink and the engine-event message. The sink does not handle events where
// the engine raises them: it keeps a reference to the event and posts it to the main window, so
// every event is handled later from the window's queue, in the order the engine raised them.
#pragma once

#include "rtc/ComPtr.h"

#include <QEvent>
#include <QPointer>

#include <cstdint>

// The engine-event message posted to the main window (the user message 0x464).
constexpr QEvent::Type kEngineEventMessage = static_cast<QEvent::Type>(1124);

// Carries the event type and one reference to the event object. The handler takes the
// reference; a message that is never handled (its window gone) gives it back when destroyed.
class EngineEventMessage : public QEvent {
public:
    EngineEventMessage(int eventType, rtc::IUnknown* eventWithReference)
        : QEvent(kEngineEventMessage), eventType_(eventType), event_(eventWithReference) {}
    ~EngineEventMessage() override;
    EngineEventMessage(const EngineEventMessage&) = delete;
    EngineEventMessage& operator=(const EngineEventMessage&) = delete;

    int eventType() const { return eventType_; }
    // Hands the carried reference to the caller.
    rtc::ComPtr<rtc::IUnknown> takeEvent();

private:
    int eventType_;
    rtc::IUnknown* event_;
};

class CRTCEvents final : public rtc::IRTCEventNotification {
public:
    CRTCEvents() = default;
    CRTCEvents(const CRTCEvents&) = delete;
    CRTCEvents& operator=(const CRTCEvents&) = delete;

    rtc::HRESULT QueryInterface(rtc::IID iid, void** out) override;
    rtc::ULONG AddRef() override;
    rtc::ULONG Release() override;
    // Adds a reference to `event` and posts it to the target window; always succeeds.
    rtc::HRESULT Event(rtc::RTC_EVENT type, rtc::IUnknown* event) override;

    std::int32_t refCount() const { return refCount_; }
    std::uint32_t cookie = 0;
    QPointer<QObject> target;

private:
    ~CRTCEvents() override = default;
    std::int32_t refCount_ = 0;
};
