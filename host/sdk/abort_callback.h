// Cancellation flag handed to every long operation. The caller owns it; the
// callee polls `is_aborting` or calls `check`, which throws exception_aborted.
#pragma once

#include <atomic>

#include "host/sdk/exceptions.h"

class abort_callback {
  public:
    virtual bool is_aborting() const = 0;
    // Throws exception_aborted when the operation has been cancelled.
    void check() const {
        if (is_aborting()) throw exception_aborted();
    }

  protected:
    abort_callback() = default;
    ~abort_callback() = default;
};

// A flag that any thread may set.
class abort_callback_impl final : public abort_callback {
  public:
    bool is_aborting() const override { return m_aborting.load(); }
    void abort() { m_aborting.store(true); }
    void reset() { m_aborting.store(false); }

  private:
    std::atomic<bool> m_aborting{false};
};

// Never aborts.
class abort_callback_dummy final : public abort_callback {
  public:
    bool is_aborting() const override { return false; }
};
