#include "fakes/FakeServices.h"

#include "calls/DialPad.h"
#include "calls/Session.h"

namespace fake {

TestPhone::TestPhone()
    : historyFiles(dir.path() + QStringLiteral("/history")),
      phone(view, box, sound, clock, https, worker, historyFiles, AppConfig()) {
    view.onFocus = [this](int id) { OnFieldFocus(phone, id); };
}

TestPhone::~TestPhone() {
    view.onFocus = nullptr;
}

rtc::HRESULT TestPhone::startEngine(QObject* target) {
    client = rtc::ComPtr<FakeClient>(new FakeClient);
    rtc::ComPtr<FakeClient> c = client;
    return InitializeRTCApp(
        phone,
        [c](rtc::IRTCClient** out) {
            *out = rtc::ComPtr<rtc::IRTCClient>(c.get()).detach();
            return rtc::S_OK;
        },
        target);
}

void TestPhone::registerAccount(const QString& server) {
    if (!client)
        startEngine();
    phone.st.registered = 1;
    phone.st.serverAddress = server;
    phone.st.profile = rtc::ComPtr<rtc::IRTCProfile>(new FakeProfile);
    view.texts[1004] = QStringLiteral("alice");
    view.texts[1002] = QStringLiteral("alice-secret");
}

void TestPhone::deliver(rtc::RTC_EVENT type, rtc::IUnknown* event) {
    DispatchEngineEvent(phone, type, rtc::ComPtr<rtc::IUnknown>(event));
}

void TestPhone::deliverSession(rtc::RTC_SESSION_STATE state, rtc::IRTCSession* session) {
    rtc::ComPtr<FakeSessionEvent> e(new FakeSessionEvent(state, session));
    deliver(rtc::RTCE_SESSION_STATE_CHANGE, e.get());
}

QStringList TestPhone::history(CallKind kind) const {
    return phone.history.LoadCallRecords(kind);
}

} // namespace fake
