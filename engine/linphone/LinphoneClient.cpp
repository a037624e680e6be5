#include "engine/linphone/LinphoneClient.h"

rtc::HRESULT CreateLinphoneClient(const EngineOptions&, rtc::IRTCClient** out) {
    if (out)
        *out = nullptr;
    return rtc::E_NOTIMPL;
}
