// Per-thread COM initialisation.
//
// Each thread keeps a count: the first CoInitialize answers S_OK, every
// further one S_FALSE, and each successful call must be balanced by one
// CoUninitialize. CoCreateInstance refuses to work on a thread whose count is 0.
#pragma once

#include "platform/wintypes.h"

inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
inline constexpr DWORD COINIT_MULTITHREADED = 0x0;

HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD coinit);
void CoUninitialize();

namespace platform {

// The calling thread's initialisation count (for tests of COM balance).
int ComInitCount();

// Makes the next CoInitialize calls on every thread fail with `hr` (S_OK
// restores normal behaviour). For tests of start-up failure paths.
void SetCoInitializeResultForTesting(HRESULT hr);

}  // namespace platform
