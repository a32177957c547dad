// Finding the input service that claims a path, as the player does before it
// opens a file: every loaded component's input entries in load and
// registration order, the first whose is_our_path accepts the path and its
// extension.
#pragma once

#include <string>

#include "host/core/host.h"
#include "host/sdk/input.h"

namespace playhost {

struct ClaimingInput {
    const ComponentModule* owner = nullptr;  // null when no input claims the path
    service_ptr_t<input_entry> input;
};

// The first input entry of `host`'s components that claims `path`.
ClaimingInput FindClaimingInput(Host& host, const std::string& path);

}  // namespace playhost
