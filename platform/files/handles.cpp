// The module's handle table (see handles.h).

#include "platform/files/handles.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace {

// Set when the table is gone (process exit, or the module that holds this
// copy of the platform being unloaded); constant-initialised, so it outlives
// every static destructor.
std::atomic<bool> g_table_gone{false};

struct HandleTable {
    std::mutex lock;
    std::unordered_map<uintptr_t, std::shared_ptr<platform::KernelObject>> objects;
    uintptr_t next = 0x100;
    ~HandleTable() { g_table_gone.store(true); }
};

// The table, destroyed with its module so that an unloaded plug-in leaves
// nothing behind; null once it is gone. A static destructor that closes a
// handle after that finds no handle, and its object was freed with the table.
HandleTable* Table() {
    static HandleTable table;
    return g_table_gone.load() ? nullptr : &table;
}

}  // namespace

BOOL CloseHandle(HANDLE hObject) {
    std::shared_ptr<platform::KernelObject> object;
    {
        HandleTable* table_ptr = Table();
        if (!table_ptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        HandleTable& table = *table_ptr;
        std::lock_guard<std::mutex> guard(table.lock);
        auto it = table.objects.find(reinterpret_cast<uintptr_t>(hObject));
        if (it == table.objects.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = std::move(it->second);
        table.objects.erase(it);
    }
    // The object dies here, outside the lock, unless a call still holds it.
    return TRUE;
}

namespace platform {

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object) {
    HandleTable* table_ptr = Table();
    if (!object || !table_ptr) return nullptr;
    HandleTable& table = *table_ptr;
    std::lock_guard<std::mutex> guard(table.lock);
    uintptr_t value;
    do {
        value = table.next;
        table.next += 4;
        if (table.next >= (UINTPTR_MAX & ~uintptr_t{3}) - 4) table.next = 0x100;
    } while (table.objects.count(value));
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    HandleTable* table_ptr = Table();
    if (!table_ptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    HandleTable& table = *table_ptr;
    std::lock_guard<std::mutex> guard(table.lock);
    auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == table.objects.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

}  // namespace platform
