// The shared fake library (support/fake_media_library.h) as the plug-in meets
// it: every path opens, the content carries the item, and the library is
// already initialised, so no identity is told.
#pragma once

#include <memory>

#include "library/identity.h"
#include "platform/com/apartment.h"
#include "support/fake_media_library.h"

namespace fakes {

using testsupport::Log;

inline std::shared_ptr<testsupport::LibraryState> PluginLibraryState() {
    auto state = std::make_shared<testsupport::LibraryState>();
    state->open_any_path = true;
    state->content_answers_item = true;
    state->initialized_count = 1;
    return state;
}

// Releases the plug-in's process-wide library root and undoes a forced
// CoInitialize result, so that the next test starts without either.
inline void ForgetProcessLibrary() {
    CoInitialize(nullptr);
    library::ReleaseProcessMediaLibrary();
    CoUninitialize();
    platform::SetCoInitializeResultForTesting(S_OK);
}

// Creations of the root class asked for, whatever the version.
inline size_t Creations(const Log& log) {
    size_t n = 0;
    for (const auto& e : log) n += e.starts_with("create v");
    return n;
}

}  // namespace fakes
