// Settings that a component keeps between runs.
//
// Every `cfg_var` is a static object with its own GUID; it links itself into
// its module's list when constructed. The component's client object walks the
// list when the host asks for the settings (get_config) or hands them back
// (set_config), so the host stores them without knowing their meaning: each
// record is the GUID, a 32-bit little-endian size and the value's bytes.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "host/sdk/abort_callback.h"
#include "host/sdk/stream.h"
#include "platform/com/guid.h"

class cfg_var {
  public:
    cfg_var(const cfg_var&) = delete;
    cfg_var& operator=(const cfg_var&) = delete;

    const GUID& get_guid() const noexcept { return m_guid; }
    cfg_var* get_next() const noexcept { return m_next; }
    // Writes the value's bytes (without GUID or size).
    virtual void get_data_raw(stream_writer* stream, abort_callback& abort) = 0;
    // Restores the value from `size` bytes of `stream`; must consume exactly
    // `size` bytes. A size the variable cannot use leaves the value unchanged.
    virtual void set_data_raw(stream_reader* stream, size_t size, abort_callback& abort) = 0;

    // Head of this module's list of settings.
    static cfg_var* list_head() noexcept;
    // Writes every setting of the list as records (see above).
    static void config_write_all(stream_writer* stream, abort_callback& abort);
    // Reads records until the stream ends and restores the settings they name.
    static void config_read_all(stream_reader* stream, abort_callback& abort);

  protected:
    explicit cfg_var(const GUID& guid) noexcept;
    ~cfg_var() = default;

  private:
    GUID m_guid;
    cfg_var* m_next;
};

// An integer (or boolean) setting stored as sizeof(T) little-endian bytes.
// The value may be read on any thread while the host's settings page changes
// it on another; each read sees either the old or the new value.
template <typename T>
class cfg_int_t final : public cfg_var {
    static_assert(std::is_integral_v<T> || std::is_enum_v<T>, "cfg_int_t holds integers");

  public:
    cfg_int_t(const GUID& guid, T initial) noexcept : cfg_var(guid), m_value(initial) {}

    T get() const noexcept { return m_value.load(std::memory_order_relaxed); }
    void set(T value) noexcept { m_value.store(value, std::memory_order_relaxed); }
    operator T() const noexcept { return get(); }
    cfg_int_t& operator=(T value) noexcept {
        set(value);
        return *this;
    }

    void get_data_raw(stream_writer* stream, abort_callback& abort) override {
        uint8_t bytes[sizeof(T)];
        auto raw = to_unsigned(get());
        for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(raw >> (8 * i));
        stream->write(bytes, sizeof(T), abort);
    }
    void set_data_raw(stream_reader* stream, size_t size, abort_callback& abort) override {
        uint8_t bytes[sizeof(T)];
        if (size != sizeof(T)) {
            skip(stream, size, abort);
            return;
        }
        stream->read_object(bytes, sizeof(T), abort);
        unsigned_type raw = 0;
        for (size_t i = 0; i < sizeof(T); ++i) raw |= static_cast<unsigned_type>(bytes[i]) << (8 * i);
        if constexpr (std::is_same_v<T, bool>)
            set(raw != 0);
        else
            set(static_cast<T>(raw));
    }

  private:
    using unsigned_type = std::conditional_t<(sizeof(T) > 4), uint64_t, uint32_t>;
    static unsigned_type to_unsigned(T v) { return static_cast<unsigned_type>(v); }
    static void skip(stream_reader* stream, size_t size, abort_callback& abort) {
        uint8_t sink[64];
        while (size > 0) {
            const size_t n = size < sizeof(sink) ? size : sizeof(sink);
            stream->read_object(sink, n, abort);
            size -= n;
        }
    }
    std::atomic<T> m_value;
};

using cfg_int = cfg_int_t<int32_t>;
using cfg_bool = cfg_int_t<bool>;
