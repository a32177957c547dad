// The host's ID3v2 tag service: writes a track's metadata and ReplayGain
// values as one ID3v2 tag, and reads such a tag back.
#pragma once

#include "host/sdk/abort_callback.h"
#include "host/sdk/file_info.h"
#include "host/sdk/filesystem.h"
#include "host/sdk/service.h"

// Lets a tag writer ask for a temporary file when it has to rebuild a file;
// the dummy declines, so the writer works in place.
class tag_write_callback {
  public:
    // Sets `out` to a new temporary file and returns true, or returns false.
    virtual bool open_temp_file(file_ptr& out, abort_callback& abort) = 0;

  protected:
    ~tag_write_callback() = default;
};

class tag_write_callback_dummy final : public tag_write_callback {
  public:
    bool open_temp_file(file_ptr&, abort_callback&) override { return false; }
};

class tag_processor_id3v2 : public service_base {
  public:
    static constexpr GUID class_guid = platform::MakeGuid("{25B0D20D-9BA3-4A7B-8D0E-89FAF75F916F}");
    using t_interface_parent = service_base;
    using t_interface_entrypoint = tag_processor_id3v2;

    // Fills `info` from the ID3v2 tag at the start of `file` (data after the
    // tag is ignored). Throws exception_io_data when there is no valid tag.
    virtual void read(const file_ptr& file, file_info& info, abort_callback& abort) = 0;
    // Writes every metadata field and the ReplayGain values of `info` as one
    // ID3v2 tag at the start of `file` and leaves the position after it.
    virtual void write(const file_ptr& file, const file_info& info, tag_write_callback& callback,
                       abort_callback& abort) = 0;

    // The host's instance; throws exception_service_not_found when none.
    static service_ptr_t<tag_processor_id3v2> g_get();
};
