// The host's persistent settings: one value per setting GUID, kept in a text
// file in the profile folder.
//
// Components hand their settings to the host as a stream of records (GUID,
// 32-bit little-endian size, bytes; see foobar2000_client::get_config). The
// store keeps the values without knowing their meaning, merges what a
// component gives back at shutdown over what it holds (so settings of
// components not loaded this time survive), and writes the file as lines
// "{GUID}=hex bytes". Saving writes only when a value differs from what the
// file held when it was loaded (or last saved): a host run that changes
// nothing (playhost info) does not touch the file. Several processes may use
// one profile at once, so a save takes an advisory lock (flock) on the
// profile folder, reads the file again, lays its own changed values over what
// other processes saved meanwhile, writes a temporary file beside the target
// and renames it over the target (a crash never leaves a half-written file).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <vector>

#include "platform/com/guid.h"

namespace playhost {

class SettingsStore {
  public:
    explicit SettingsStore(std::filesystem::path file);

    // Reads the file; a missing file gives an empty store. Lines that are not
    // "{GUID}=hex" are skipped. Throws std::runtime_error when the file exists
    // but cannot be read.
    void Load();
    // Writes the changed values (see above) atomically, under the profile
    // folder's lock; does nothing when no value changed. Throws
    // std::runtime_error on failure.
    void Save();

    // All values as one record stream for foobar2000_client::set_config.
    std::vector<uint8_t> ToConfigStream() const;
    // Takes the records of a component's get_config over the held values.
    // Returns false (nothing taken) when the stream is malformed.
    bool MergeConfigStream(const std::vector<uint8_t>& stream);

    const std::map<GUID, std::vector<uint8_t>>& values() const { return m_values; }
    const std::filesystem::path& file() const { return m_file; }

  private:
    std::filesystem::path m_file;
    std::map<GUID, std::vector<uint8_t>> m_values;
    std::map<GUID, std::vector<uint8_t>> m_stored;  // what the file held at the last load or save
};

}  // namespace playhost
