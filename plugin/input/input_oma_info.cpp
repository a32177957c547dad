// The tag roles of input_oma: reading a file's information into the host's
// record and writing it back, both through the tag layer (plugin/tags). The
// side-tag switches are handed over as an object that reads the host's
// settings at each question, so a switch changed in the host counts from the
// next read or write on.
#include "plugin/host/settings.h"
#include "plugin/input/input_oma.h"
#include "plugin/tags/info_reader.h"
#include "plugin/tags/info_writer.h"

namespace {

class HostSideTagSettings final : public corvina::SideTagSettings {
  public:
    bool write_ntfs_stream() const override { return cfg_write_ntfs_stream.get(); }
    bool use_user_profile() const override { return cfg_use_user_profile.get(); }
    bool keeps_clean() const override { return cfg_keeps_clean.get(); }
    bool portable() const override { return cfg_portable.get(); }
};

}  // namespace

void input_oma::read_info(file_info& info, abort_callback& abort) {
    const corvina::InputFile file{m_host_path.c_str(), m_library_path.Get(), m_key_path.Get(), m_item.Get()};
    corvina::ReadInfo(file, HostSideTagSettings(), info, abort);
}

void input_oma::write_info(const file_info& info, abort_callback& abort) {
    const corvina::InputFile file{m_host_path.c_str(), m_library_path.Get(), m_key_path.Get(), m_item.Get()};
    corvina::WriteInfo(file, HostSideTagSettings(), info, abort);
}
