// A counted reference to an engine object: adds a reference when it copies, releases exactly
// once when it lets go, so no caller pairs AddRef/Release by hand.
#pragma once

#include "rtc/Rtc.h"

#include <type_traits>
#include <utility>

namespace rtc {

template <class T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference to p.
    explicit ComPtr(T* p) : p_(p) {
        if (p_)
            p_->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    // From a pointer to a derived implementation or interface.
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ComPtr(const ComPtr<U>& o) : ComPtr(static_cast<T*>(o.get())) {}
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ~ComPtr() { reset(); }

    ComPtr& operator=(const ComPtr& o) {
        if (this != &o)
            ComPtr(o).swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& o) noexcept {
        if (this != &o) {
            reset();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) {
        reset();
        return *this;
    }

    // Adopts a reference the caller already owns (an out-parameter's reference).
    static ComPtr adopt(T* p) {
        ComPtr c;
        c.p_ = p;
        return c;
    }

    void reset() {
        if (T* p = std::exchange(p_, nullptr))
            p->Release();
    }
    // Hands out the slot for an out-parameter; releases what was held first.
    T** put() {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    // Gives up ownership without releasing.
    T* detach() { return std::exchange(p_, nullptr); }
    void swap(ComPtr& o) noexcept { std::swap(p_, o.p_); }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    bool operator==(const ComPtr& o) const { return p_ == o.p_; }

    // QueryInterface for U; returns the result and fills `out` on success.
    template <class U> HRESULT as(ComPtr<U>& out) const {
        if (!p_) {
            out.reset();
            return E_POINTER;
        }
        return p_->QueryInterface(U::kIid, out.putVoid());
    }

private:
    T* p_ = nullptr;
};

} // namespace rtc
