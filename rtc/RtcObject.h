// Reference counting and interface lookup for engine objects: derive from
// RtcObject<Interface...> and implement the interfaces' operations. An object starts with no
// reference; wrap it at once, ComPtr<I>(new Impl(...)). Single-threaded, like the whole engine.
#pragma once

#include "rtc/Rtc.h"

#include <tuple>

namespace rtc {

template <class... Interfaces> class RtcObject : public Interfaces... {
public:
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG n = --refs_;
        if (n == 0)
            delete this;
        return n;
    }
    HRESULT QueryInterface(IID iid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (iid == IID::IUnknown) {
            using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;
            *out = static_cast<IUnknown*>(static_cast<First*>(this));
        } else {
            ((iid == Interfaces::kIid ? (*out = static_cast<Interfaces*>(this), true) : false) || ...);
        }
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG refCount() const { return refs_; }

protected:
    RtcObject() = default;
    ~RtcObject() override = default;

private:
    ULONG refs_ = 0;
};

} // namespace rtc
