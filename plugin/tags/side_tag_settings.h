// The four switches that decide where side tags live, as the side-tag store
// asks for them. The store calls a getter each time it needs the value and
// never keeps it, so a switch changed in the host counts from the next
// operation on. The plug-in frame passes an implementation that reads its
// cfg_ variables; tests and fixed uses pass SideTagFlags.
#pragma once

namespace corvina {

class SideTagSettings {
  public:
    // The stream side-tag file (audio file's host path + ":ID3v2.tag").
    virtual bool write_ntfs_stream() const = 0;
    // The profile side-tag files below the host's profile folder.
    virtual bool use_user_profile() const = 0;
    // Lookups in the profile store remove side-tag files of vanished audio
    // files and duplicates.
    virtual bool keeps_clean() const = 0;
    // Lookups in the profile store ignore the drive letter.
    virtual bool portable() const = 0;

  protected:
    ~SideTagSettings() = default;
};

// Settings as plain values.
struct SideTagFlags final : SideTagSettings {
    bool ntfs_stream = false;
    bool user_profile = false;
    bool clean = false;
    bool drive_free = false;

    bool write_ntfs_stream() const override { return ntfs_stream; }
    bool use_user_profile() const override { return user_profile; }
    bool keeps_clean() const override { return clean; }
    bool portable() const override { return drive_free; }
};

}  // namespace corvina
