// The module's handle table (see handles.h).

#include "platform/files/handles.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace {

struct HandleTable {
    std::mutex lock;
    std::unordered_map<uintptr_t, std::shared_ptr<platform::KernelObject>> objects;
    uintptr_t next = 0x100;
};

HandleTable& Table() {
    // Never destroyed: handles may still be closed from static destructors.
    static HandleTable* table = new HandleTable;
    return *table;
}

}  // namespace

BOOL CloseHandle(HANDLE hObject) {
    std::shared_ptr<platform::KernelObject> object;
    {
        HandleTable& table = Table();
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
    if (!object) return nullptr;
    HandleTable& table = Table();
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
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == table.objects.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

}  // namespace platform
