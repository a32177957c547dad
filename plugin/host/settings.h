// The plug-in's switches in the host's advanced-settings tree.
//
// Each switch is a static check box (or radio item) registered with the host;
// the host saves its state with the component's settings under the switch's
// own GUID. Code reads a switch with get() at the moment it needs it and never
// keeps the value, so a change made in the host takes effect at the next
// operation. All six are off on a fresh profile.
#pragma once

#include "host/sdk/advconfig.h"
#include "platform/com/guid.h"

namespace corvina {

// The two branches of the tree.
inline constexpr GUID guid_branch_pellwick = platform::MakeGuid("{BE0DC1B2-1013-43BC-8C04-DC5CDB6337ED}");
inline constexpr GUID guid_branch_side_tags = platform::MakeGuid("{414AF194-A283-415C-ABE1-B685A584B039}");

// The six switches, each the GUID under which its state is saved.
inline constexpr GUID guid_cfg_buffering_mode = platform::MakeGuid("{5F92BF55-43B9-4AD0-8FDE-BE8AABE3ADE6}");
inline constexpr GUID guid_cfg_support_3gp = platform::MakeGuid("{B7C6E0E8-AEB3-4173-B519-10A8F0BE6502}");
inline constexpr GUID guid_cfg_use_user_profile =
    platform::MakeGuid("{1CFD1730-7768-4F32-A2BD-CE74B573CFDB}");
inline constexpr GUID guid_cfg_keeps_clean = platform::MakeGuid("{E23DEFCF-46A4-4CE9-AF89-082C15665171}");
inline constexpr GUID guid_cfg_portable = platform::MakeGuid("{4CE64C36-B701-4CA2-860E-481CE74C061D}");
inline constexpr GUID guid_cfg_write_ntfs_stream =
    platform::MakeGuid("{BDB8520E-80F7-42FF-AB28-B3B3780D3C21}");

}  // namespace corvina

// The switches themselves (defined with the other registrations). Read with
// get(); the decoder reads the buffering mode once per initialisation, the
// input and album-art services read the 3gp switch at every is_our_path, the
// side-tag code reads the other four at every info read and write.
extern advconfig_checkbox_factory cfg_buffering_mode;
extern advconfig_checkbox_factory cfg_support_3gp;
extern advconfig_checkbox_factory cfg_use_user_profile;
extern advconfig_checkbox_factory cfg_keeps_clean;
extern advconfig_checkbox_factory cfg_portable;
extern advconfig_checkbox_factory cfg_write_ntfs_stream;
