// The host's file-system service over the local disk.
//
// Host paths with or without "file://" are turned into operating-system paths
// by fb2k::host_path_to_native (both separators accepted). Operating-system
// errors are mapped onto the host's exception classes: a missing file or
// folder is exception_io_not_found, refused access exception_io_denied, an
// existing folder on create exception_io_already_exists, anything else
// exception_io. Files are opened with an owned descriptor closed by the file
// object's destructor.
#pragma once

#include "host/sdk/filesystem.h"

namespace playhost {

// A new instance of the local file system (stateless; any number may exist).
service_ptr_t<filesystem> CreateLocalFilesystem();

}  // namespace playhost
