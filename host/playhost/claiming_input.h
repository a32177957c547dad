// Finding the input service that claims a path, as the player does before it
// opens a file: every loaded component's input entries in load and
// registration order, the first whose is_our_path accepts the path and its
// extension. The file commands (open, info, tag, scan) share the steps around
// it here: announcing the path and the claiming module, reading a record, and
// turning a thrown exception into an "error=" line.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "host/core/host.h"
#include "host/playhost/output.h"
#include "host/sdk/file_info.h"
#include "host/sdk/input.h"

namespace playhost {

// The path as the player hands it to inputs: a path with a scheme
// ("file://...") unchanged, any other made absolute and lexically normal,
// the way a playlist stores it. Inputs key per-file data (side tags) on the
// path, so "song.oma" and "/music/song.oma" must reach them as one path.
std::string PlayerPath(const std::string& typed);

struct ClaimingInput {
    const ComponentModule* owner = nullptr;  // null when no input claims the path
    service_ptr_t<input_entry> input;
};

// The input entries of `host`'s components in the order they are asked,
// made once: a command that handles many paths (info with several, scan)
// asks the same entries for each instead of creating them anew every time.
class ClaimingInputs {
  public:
    explicit ClaimingInputs(Host& host);
    // The first entry that claims `path`; an empty result when none does.
    ClaimingInput Find(const std::string& path) const;

  private:
    std::vector<ClaimingInput> inputs_;
};

// The first input entry of `host`'s components that claims `path`.
ClaimingInput FindClaimingInput(Host& host, const std::string& path);

// What every file command prints first: path=PATH, then input=MODULE for the
// input that claims PATH, or, when none does, the unsupported-format error
// (the result's input is then null and the command ends with exit code 1).
ClaimingInput AnnounceClaimingInput(std::ostream& out, const ClaimingInputs& inputs, const std::string& path);
ClaimingInput AnnounceClaimingInput(std::ostream& out, Host& host, const std::string& path);

// Opens `path` through `input` for info reading and fills `info` with track
// 0's record. Throws what the input throws.
void ReadFileInfo(const service_ptr_t<input_entry>& input, const std::string& path, file_info& info,
                  abort_callback& abort);

// Runs `step`; an exception it throws is printed as error=<its text>.
// Returns whether `step` finished without one.
template <typename Step>
bool RunReportingErrors(std::ostream& out, Step&& step) {
    try {
        step();
        return true;
    } catch (const std::exception& e) {
        WriteKeyValue(out, "error", e.what());
        return false;
    }
}

}  // namespace playhost
