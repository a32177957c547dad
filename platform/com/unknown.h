// IUnknown, the class-factory interface, a COM smart pointer and a helper that
// implements QueryInterface/AddRef/Release for a class.
//
// Interfaces are pure-virtual structs whose methods sit in the slot order that
// the Windows system gives them (slots 0 to 2 are IUnknown's). Each interface
// carries its id as the static member `iid`, so that QueryInterface tables and
// ComPtr conversions need no separate id table.
#pragma once

#include <atomic>
#include <tuple>
#include <type_traits>
#include <utility>

#include "platform/com/guid.h"

struct IUnknown {
    static constexpr GUID iid = platform::MakeGuid("{00000000-0000-0000-C000-000000000046}");
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;  // slot 0
    virtual ULONG AddRef() = 0;                                      // slot 1
    virtual ULONG Release() = 0;                                     // slot 2

  protected:
    ~IUnknown() = default;  // objects die through Release only
};

// Automation's late-bound interface; only passed through as VT_DISPATCH here.
struct IDispatch : IUnknown {
    static constexpr GUID iid = platform::MakeGuid("{00020400-0000-0000-C000-000000000046}");
    virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT GetTypeInfo(UINT index, ULONG lcid, void** info) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPWSTR* names, UINT count, ULONG lcid, LONG* ids) = 0;
    virtual HRESULT Invoke(LONG id, REFIID riid, ULONG lcid, WORD flags, void* params, void* result,
                           void* excepinfo, UINT* arg_error) = 0;

  protected:
    ~IDispatch() = default;
};

struct IClassFactory : IUnknown {
    static constexpr GUID iid = platform::MakeGuid("{00000001-0000-0000-C000-000000000046}");
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;  // slot 3
    virtual HRESULT LockServer(BOOL lock) = 0;                                        // slot 4

  protected:
    ~IClassFactory() = default;
};

inline constexpr GUID IID_IUnknown = IUnknown::iid;
inline constexpr GUID IID_IDispatch = IDispatch::iid;
inline constexpr GUID IID_IClassFactory = IClassFactory::iid;

// Owning pointer to a COM interface. Attach() adopts a reference the caller
// already owns; the constructor from a raw pointer adds one.
template <typename T>
class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    explicit ComPtr(T* p) : p_(p) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& o) : p_(o.p_) {
        if (p_) p_->AddRef();
    }
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ~ComPtr() { Reset(); }
    ComPtr& operator=(const ComPtr& o) {
        if (this != &o) {
            T* old = p_;
            p_ = o.p_;
            if (p_) p_->AddRef();
            if (old) old->Release();
        }
        return *this;
    }
    ComPtr& operator=(ComPtr&& o) noexcept {
        if (this != &o) {
            Reset();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }

    static ComPtr Adopt(T* p) {
        ComPtr c;
        c.p_ = p;
        return c;
    }
    void Attach(T* p) {
        Reset();
        p_ = p;
    }
    T* Detach() { return std::exchange(p_, nullptr); }
    void Reset() {
        if (T* old = std::exchange(p_, nullptr)) old->Release();
    }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // For out-parameters: releases what is held and gives the slot.
    T** ReleaseAndGetAddressOf() {
        Reset();
        return &p_;
    }
    void** ReleaseAndGetVoidAddress() { return reinterpret_cast<void**>(ReleaseAndGetAddressOf()); }

    // QueryInterface for another interface; empty on failure.
    template <typename U>
    ComPtr<U> As() const {
        ComPtr<U> out;
        if (p_) p_->QueryInterface(U::iid, out.ReleaseAndGetVoidAddress());
        return out;
    }

  private:
    T* p_ = nullptr;
};

namespace platform {

// Implements IUnknown for `Derived`, which lists the interfaces it answers:
//   class Foo final : public ComObject<Foo, IFoo, IBar> { ... };
// QueryInterface answers IUnknown and every listed interface (and their
// bases' ids where the interface says so through `iid`); the count is atomic.
// Objects are created with `new` and die at the last Release.
template <typename Derived, typename... Interfaces>
class ComObject : public Interfaces... {
  public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == IUnknown::iid) {
            *object = static_cast<IUnknown*>(static_cast<FirstInterface*>(this));
        } else {
            (TryInterface<Interfaces>(riid, object) || ...);
        }
        if (!*object) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG n = --refs_;
        if (n == 0) delete static_cast<Derived*>(this);
        return n;
    }

    // The object as IUnknown, with no reference added.
    IUnknown* AsUnknown() { return static_cast<IUnknown*>(static_cast<FirstInterface*>(this)); }

  protected:
    ComObject() = default;
    virtual ~ComObject() = default;

  private:
    using FirstInterface = std::tuple_element_t<0, std::tuple<Interfaces...>>;

    template <typename I>
    bool TryInterface(REFIID riid, void** object) {
        if (riid == I::iid) {
            *object = static_cast<I*>(this);
            return true;
        }
        return false;
    }

    std::atomic<ULONG> refs_{1};
};

}  // namespace platform
