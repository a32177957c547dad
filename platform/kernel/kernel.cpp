#include "platform/kernel/kernel.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace {

class Heap final : public platform::KernelObject {
  public:
    ~Heap() override {
        for (auto& [p, size] : blocks_) std::free(p);
    }
    void* Alloc(size_t bytes, bool zero) {
        void* p = zero ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
        if (!p) return nullptr;
        std::lock_guard lock(mu_);
        blocks_[p] = bytes;
        return p;
    }
    void* ReAlloc(void* block, size_t bytes, bool zero) {
        std::lock_guard lock(mu_);
        auto it = blocks_.find(block);
        if (it == blocks_.end()) return nullptr;
        const size_t old = it->second;
        void* p = std::realloc(block, bytes ? bytes : 1);
        if (!p) return nullptr;
        blocks_.erase(it);
        blocks_[p] = bytes;
        if (zero && bytes > old) std::memset(static_cast<char*>(p) + old, 0, bytes - old);
        return p;
    }
    bool Free(void* block) {
        std::lock_guard lock(mu_);
        auto it = blocks_.find(block);
        if (it == blocks_.end()) return false;
        std::free(block);
        blocks_.erase(it);
        return true;
    }
    size_t Size(const void* block) {
        std::lock_guard lock(mu_);
        auto it = blocks_.find(const_cast<void*>(block));
        return it == blocks_.end() ? static_cast<size_t>(-1) : it->second;
    }

  private:
    std::mutex mu_;
    std::unordered_map<void*, size_t> blocks_;
};

class Mutex final : public platform::KernelObject {
  public:
    bool Wait(DWORD ms) {
        std::unique_lock lock(mu_);
        const auto me = std::this_thread::get_id();
        auto free_or_mine = [&] { return count_ == 0 || owner_ == me; };
        if (ms == 0xFFFFFFFF)
            cv_.wait(lock, free_or_mine);
        else if (!cv_.wait_for(lock, std::chrono::milliseconds(ms), free_or_mine))
            return false;
        owner_ = me;
        ++count_;
        return true;
    }
    bool Release() {
        std::lock_guard lock(mu_);
        if (count_ == 0 || owner_ != std::this_thread::get_id()) return false;
        if (--count_ == 0) {
            owner_ = {};
            cv_.notify_one();
        }
        return true;
    }

  private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::thread::id owner_;
    unsigned count_ = 0;
};

}  // namespace

HANDLE HeapCreate(DWORD, size_t, size_t) { return platform::RegisterHandle(std::make_shared<Heap>()); }

BOOL HeapDestroy(HANDLE heap) {
    if (!platform::LookupHandleAs<Heap>(heap)) return FALSE;
    return CloseHandle(heap);
}

void* HeapAlloc(HANDLE heap, DWORD flags, size_t bytes) {
    auto h = platform::LookupHandleAs<Heap>(heap);
    return h ? h->Alloc(bytes, (flags & HEAP_ZERO_MEMORY) != 0) : nullptr;
}

void* HeapReAlloc(HANDLE heap, DWORD flags, void* block, size_t bytes) {
    auto h = platform::LookupHandleAs<Heap>(heap);
    return h && block ? h->ReAlloc(block, bytes, (flags & HEAP_ZERO_MEMORY) != 0) : nullptr;
}

BOOL HeapFree(HANDLE heap, DWORD, void* block) {
    if (!block) return TRUE;
    auto h = platform::LookupHandleAs<Heap>(heap);
    return h && h->Free(block) ? TRUE : FALSE;
}

size_t HeapSize(HANDLE heap, DWORD, const void* block) {
    auto h = platform::LookupHandleAs<Heap>(heap);
    return h ? h->Size(block) : static_cast<size_t>(-1);
}

HANDLE CreateMutexW(void* attributes, BOOL initial_owner, LPCWSTR name) {
    if (attributes || name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto m = std::make_shared<Mutex>();
    if (initial_owner) m->Wait(0);
    return platform::RegisterHandle(m);
}

BOOL ReleaseMutex(HANDLE mutex) {
    auto m = platform::LookupHandleAs<Mutex>(mutex);
    return m && m->Release() ? TRUE : FALSE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    auto m = platform::LookupHandleAs<Mutex>(handle);
    if (!m) return WAIT_FAILED;
    return m->Wait(milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
