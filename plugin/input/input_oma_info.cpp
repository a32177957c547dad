// The tag roles of input_oma: reading a file's information into the host's
// record and writing it back. The tag layer is not built yet: reading leaves
// the record as it is, and writing refuses the file.
#include "host/sdk/exceptions.h"
#include "plugin/input/input_oma.h"

void input_oma::read_info(file_info&, abort_callback&) {}

void input_oma::write_info(const file_info&, abort_callback&) { throw exception_io_unsupported_format(); }
