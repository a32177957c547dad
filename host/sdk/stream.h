// Byte streams used to hand a component's settings to and from the host.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/sdk/abort_callback.h"

class stream_writer {
  public:
    // Writes all `bytes` bytes or throws exception_io.
    virtual void write(const void* data, size_t bytes, abort_callback& abort) = 0;

  protected:
    ~stream_writer() = default;
};

class stream_reader {
  public:
    // Reads up to `bytes` bytes; returns how many were read (0 at the end).
    virtual size_t read(void* data, size_t bytes, abort_callback& abort) = 0;
    // Reads exactly `bytes` bytes or throws exception_io_data.
    void read_object(void* data, size_t bytes, abort_callback& abort);

  protected:
    ~stream_reader() = default;
};
