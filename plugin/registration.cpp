// Everything the component tells the host about itself. Each registration is
// a static object that links itself into the module's service list while the
// module loads, in the order written here, so the host lists the component
// even when the media library is missing.
#include "plugin/registration.h"

#include "host/sdk/component.h"
#include "host/sdk/input.h"
#include "host/sdk/input_impl.h"
#include "plugin/host/initquit.h"
#include "plugin/host/settings.h"
#include "plugin/input/input_oma.h"

namespace {

using namespace corvina;

input_singletrack_factory_t<input_oma> g_input_factory;

componentversion_factory g_componentversion(kComponentName, kComponentVersion, kAboutMessage);
component_installation_validator_factory g_installation_validator(kModuleFileName);
input_file_type_factory g_file_type(kFileTypeName, kFileTypeMask, true);
initquit_factory_t<CInitQuit> g_initquit;

advconfig_branch_factory g_branch_pellwick("Sony Media Library Earth wrapper (Pellwick)",
                                           guid_branch_pellwick, advconfig_entry::guid_branch_tools, 0);

}  // namespace

advconfig_checkbox_factory cfg_buffering_mode("Buffering Mode (Non-recommendation)", "buffering_mode",
                                              guid_cfg_buffering_mode, guid_branch_pellwick, 1, false);
advconfig_checkbox_factory cfg_support_3gp("Support 3gp (Non-recommendation)", "support_3gp",
                                           guid_cfg_support_3gp, guid_branch_pellwick, 2, false);

namespace {

advconfig_branch_factory g_branch_side_tags(
    "Storage place of tag that cannot be written with SMLE (e.g. ReplayGain information)",
    guid_branch_side_tags, guid_branch_pellwick, 3);

}  // namespace

advconfig_checkbox_factory cfg_use_user_profile(
    "Use user profile (e.g. \"C:\\Users\\UserName\\AppData\\Roaming\\foobar2000\\ID3v2\\\")",
    "use_user_profile", guid_cfg_use_user_profile, guid_branch_side_tags, 1, false);
advconfig_checkbox_factory cfg_keeps_clean("Keeps clean (The data of no existence file is deleted)",
                                           "keeps_clean", guid_cfg_keeps_clean, guid_cfg_use_user_profile, 1,
                                           false, true);
advconfig_checkbox_factory cfg_portable("Portable (The drive letter is disregarded)", "portable",
                                        guid_cfg_portable, guid_cfg_use_user_profile, 2, false, true);
advconfig_checkbox_factory cfg_write_ntfs_stream(
    "Write \"NTFS Alternate Data Stream\" (e.g. \"D:\\Music\\TrackName.oma:ID3v2.tag\")", "write_ntfs_stream",
    guid_cfg_write_ntfs_stream, guid_branch_side_tags, 2, false);
