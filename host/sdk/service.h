// The service model shared by the host and its components.
//
// A service is a pure-virtual class that carries its identity as a constant
// `class_guid` and names its parent interface (`t_interface_parent`), so that
// `service_query` can walk the chain from the most derived interface up to
// `service_base`. Entry-point interfaces also name themselves as
// `t_interface_entrypoint`: the host finds services of such a class through the
// factories that components register under that GUID. Objects are reference
// counted with an atomic count (`service_impl_t`) and held by
// `service_ptr_t<T>`, which adds a reference on copy and drops it on
// destruction. Only single, non-virtual inheritance chains are used, so a
// `service_base*` and the interface pointer it was made from share an address.
#pragma once

#include <atomic>
#include <cstddef>
#include <type_traits>
#include <utility>

#include "platform/com/guid.h"

class service_base;

// Holds one reference to a service; empty by default.
template <typename T>
class service_ptr_t {
  public:
    service_ptr_t() noexcept = default;
    service_ptr_t(std::nullptr_t) noexcept {}
    // Takes a new reference on `p` (may be null).
    service_ptr_t(T* p) noexcept : m_ptr(p) {
        if (m_ptr) m_ptr->service_add_ref();
    }
    service_ptr_t(const service_ptr_t& other) noexcept : service_ptr_t(other.m_ptr) {}
    service_ptr_t(service_ptr_t&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}
    template <typename U, typename = std::enable_if_t<std::is_base_of_v<T, U>>>
    service_ptr_t(const service_ptr_t<U>& other) noexcept : service_ptr_t(other.get_ptr()) {}
    ~service_ptr_t() { release(); }

    service_ptr_t& operator=(const service_ptr_t& other) noexcept {
        service_ptr_t(other).swap(*this);
        return *this;
    }
    service_ptr_t& operator=(service_ptr_t&& other) noexcept {
        service_ptr_t(std::move(other)).swap(*this);
        return *this;
    }
    service_ptr_t& operator=(T* p) noexcept {
        service_ptr_t(p).swap(*this);
        return *this;
    }
    service_ptr_t& operator=(std::nullptr_t) noexcept {
        release();
        return *this;
    }

    // Adopts a pointer whose reference the caller already owns.
    void attach(T* p) noexcept {
        release();
        m_ptr = p;
    }
    // Gives up the held reference without releasing it.
    T* detach() noexcept { return std::exchange(m_ptr, nullptr); }
    void release() noexcept {
        if (T* p = std::exchange(m_ptr, nullptr)) p->service_release();
    }
    void swap(service_ptr_t& other) noexcept { std::swap(m_ptr, other.m_ptr); }

    T* get_ptr() const noexcept { return m_ptr; }
    T* operator->() const noexcept { return m_ptr; }
    T& operator*() const noexcept { return *m_ptr; }
    bool is_valid() const noexcept { return m_ptr != nullptr; }
    bool is_empty() const noexcept { return m_ptr == nullptr; }
    explicit operator bool() const noexcept { return m_ptr != nullptr; }

    // Asks the held object for interface U; false (and `out` empty) when the
    // object does not implement it or when this pointer is empty.
    template <typename U>
    bool service_query_t(service_ptr_t<U>& out) const;

  private:
    T* m_ptr = nullptr;
};

using service_ptr = service_ptr_t<service_base>;

// Root of every service interface.
class service_base {
  public:
    static constexpr GUID class_guid = platform::MakeGuid("{7A4F3C20-5D1B-4E8A-9C36-0B2E7D91F4A5}");
    using t_interface_parent = void;

    // Reference counting; both return the new count.
    virtual int service_release() noexcept = 0;
    virtual int service_add_ref() noexcept = 0;
    // Sets `out` to this object seen as the interface `guid` and returns true,
    // or returns false leaving `out` untouched.
    virtual bool service_query(service_ptr& out, const GUID& guid) = 0;

  protected:
    service_base() = default;
    ~service_base() = default;
    service_base(const service_base&) = default;
    service_base& operator=(const service_base&) = default;
};

template <typename T>
template <typename U>
bool service_ptr_t<T>::service_query_t(service_ptr_t<U>& out) const {
    out.release();
    if (!m_ptr) return false;
    service_ptr raw;
    if (!m_ptr->service_query(raw, U::class_guid)) return false;
    out.attach(static_cast<U*>(raw.detach()));
    return true;
}

namespace service_detail {

// Walks T's interface chain and answers whether `guid` names one of its
// levels; on success `out` is `self` seen as that level.
template <typename T, typename Impl>
bool query_chain(Impl* self, const GUID& guid, service_ptr& out) {
    if constexpr (std::is_void_v<T>) {
        return false;
    } else {
        if (guid == T::class_guid) {
            out = static_cast<service_base*>(static_cast<T*>(self));
            return true;
        }
        return query_chain<typename T::t_interface_parent>(self, guid, out);
    }
}

}  // namespace service_detail

// Reference-counted implementation of the interface chain of T. The object is
// deleted when the count falls to zero; create it with `fb2k::service_new`.
template <typename T>
class service_impl_t final : public T {
  public:
    template <typename... Args>
    explicit service_impl_t(Args&&... args) : T(std::forward<Args>(args)...) {}

    int service_release() noexcept override {
        int n = --m_count;
        if (n == 0) delete this;
        return n;
    }
    int service_add_ref() noexcept override { return ++m_count; }
    bool service_query(service_ptr& out, const GUID& guid) override {
        return service_detail::query_chain<T>(this, guid, out);
    }

  private:
    std::atomic<int> m_count{0};
};

// A service object with static storage: never deleted, counting is a no-op
// that keeps the count at 1 (used for the one instance a factory hands out).
template <typename T>
class service_impl_single_t final : public T {
  public:
    template <typename... Args>
    explicit service_impl_single_t(Args&&... args) : T(std::forward<Args>(args)...) {}
    int service_release() noexcept override { return 1; }
    int service_add_ref() noexcept override { return 1; }
    bool service_query(service_ptr& out, const GUID& guid) override {
        return service_detail::query_chain<T>(this, guid, out);
    }
};

namespace fb2k {
// Creates a counted object and returns the first reference to it.
template <typename T, typename... Args>
service_ptr_t<T> service_new(Args&&... args) {
    return service_ptr_t<T>(new service_impl_t<T>(std::forward<Args>(args)...));
}
}  // namespace fb2k

// A factory that a component registers for one entry-point class. Factories are
// static objects; each links itself into its module's list when constructed,
// and the module's client object hands the head of that list to the host.
class service_factory_base {
  public:
    service_factory_base(const service_factory_base&) = delete;
    service_factory_base& operator=(const service_factory_base&) = delete;

    const GUID& get_class_guid() const noexcept { return m_class; }
    service_factory_base* get_next() const noexcept { return m_next; }
    // Sets `out` to an instance (a new one or the factory's single one).
    virtual void instance_create(service_ptr& out) = 0;

    // Head of the list of this module's factories (null when none).
    static service_factory_base* list_head() noexcept;

  protected:
    explicit service_factory_base(const GUID& class_guid) noexcept;
    ~service_factory_base() = default;

  private:
    GUID m_class;
    service_factory_base* m_next;
};

// Registers one static instance of T under T's entry-point class.
template <typename T>
class service_factory_single_t final : public service_factory_base {
  public:
    template <typename... Args>
    explicit service_factory_single_t(Args&&... args)
        : service_factory_base(T::t_interface_entrypoint::class_guid),
          m_object(std::forward<Args>(args)...) {}
    void instance_create(service_ptr& out) override {
        out = static_cast<service_base*>(static_cast<typename T::t_interface_entrypoint*>(&m_object));
    }
    T& get_static_instance() noexcept { return m_object; }
    const T& get_static_instance() const noexcept { return m_object; }

  private:
    service_impl_single_t<T> m_object;
};

// Registers T under its entry-point class; every request makes a new object.
template <typename T>
class service_factory_t final : public service_factory_base {
  public:
    service_factory_t() noexcept : service_factory_base(T::t_interface_entrypoint::class_guid) {}
    void instance_create(service_ptr& out) override {
        service_ptr_t<T> p = fb2k::service_new<T>();
        out = static_cast<service_base*>(static_cast<typename T::t_interface_entrypoint*>(p.get_ptr()));
    }
};
