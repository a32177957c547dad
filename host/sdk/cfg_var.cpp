#include "host/sdk/cfg_var.h"

#include <vector>

#include "host/sdk/exceptions.h"

namespace {
constinit cfg_var* g_cfg_head = nullptr;
constinit cfg_var* g_cfg_tail = nullptr;

void SkipBytes(stream_reader* stream, size_t size, abort_callback& abort) {
    uint8_t sink[256];
    while (size > 0) {
        const size_t n = size < sizeof(sink) ? size : sizeof(sink);
        stream->read_object(sink, n, abort);
        size -= n;
    }
}

// Counts what a variable writes, so the record's size can precede its data.
class CollectingWriter final : public stream_writer {
  public:
    void write(const void* data, size_t bytes, abort_callback&) override {
        const auto* p = static_cast<const uint8_t*>(data);
        buffer.insert(buffer.end(), p, p + bytes);
    }
    std::vector<uint8_t> buffer;
};

// Hands a variable at most `size` bytes of the underlying stream.
class LimitedReader final : public stream_reader {
  public:
    LimitedReader(stream_reader* inner, size_t size) : m_inner(inner), m_left(size) {}
    size_t read(void* data, size_t bytes, abort_callback& abort) override {
        const size_t n = bytes < m_left ? bytes : m_left;
        if (n == 0) return 0;
        const size_t got = m_inner->read(data, n, abort);
        m_left -= got;
        return got;
    }
    size_t left() const { return m_left; }

  private:
    stream_reader* m_inner;
    size_t m_left;
};
}  // namespace

cfg_var::cfg_var(const GUID& guid) noexcept : m_guid(guid), m_next(nullptr) {
    if (g_cfg_tail)
        g_cfg_tail->m_next = this;
    else
        g_cfg_head = this;
    g_cfg_tail = this;
}

cfg_var* cfg_var::list_head() noexcept { return g_cfg_head; }

void cfg_var::config_write_all(stream_writer* stream, abort_callback& abort) {
    for (cfg_var* v = g_cfg_head; v; v = v->m_next) {
        CollectingWriter data;
        v->get_data_raw(&data, abort);
        const auto size = static_cast<uint32_t>(data.buffer.size());
        uint8_t header[20];
        std::memcpy(header, &v->m_guid, 16);
        for (int i = 0; i < 4; ++i) header[16 + i] = static_cast<uint8_t>(size >> (8 * i));
        stream->write(header, sizeof(header), abort);
        if (size) stream->write(data.buffer.data(), size, abort);
    }
}

void cfg_var::config_read_all(stream_reader* stream, abort_callback& abort) {
    for (;;) {
        uint8_t header[20];
        const size_t first = stream->read(header, sizeof(header), abort);
        if (first == 0) return;  // clean end
        if (first < sizeof(header)) stream->read_object(header + first, sizeof(header) - first, abort);
        GUID guid;
        std::memcpy(&guid, header, 16);
        uint32_t size = 0;
        for (int i = 0; i < 4; ++i) size |= static_cast<uint32_t>(header[16 + i]) << (8 * i);
        cfg_var* target = nullptr;
        for (cfg_var* v = g_cfg_head; v; v = v->m_next) {
            if (v->m_guid == guid) {
                target = v;
                break;
            }
        }
        if (!target) {
            SkipBytes(stream, size, abort);
            continue;
        }
        // The variable sees only its own record, and whatever it leaves unread
        // is skipped, so one faulty variable cannot shift the records after it.
        LimitedReader limited(stream, size);
        target->set_data_raw(&limited, size, abort);
        SkipBytes(&limited, limited.left(), abort);
    }
}
