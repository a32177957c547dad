// The decoder role of input_oma. Decoding is not built yet: the object opens
// (so its file stats and information work), but decode_initialize refuses the
// file, and the host then reports it as a file it cannot play.
#include "host/sdk/exceptions.h"
#include "plugin/input/input_oma.h"

void input_oma::decode_initialize(unsigned, abort_callback&) { throw exception_io_unsupported_format(); }

bool input_oma::decode_run(audio_chunk&, abort_callback&) { return false; }

void input_oma::decode_seek(double, abort_callback&) {}

bool input_oma::decode_can_seek() { return true; }

bool input_oma::decode_get_dynamic_info(file_info&, double&) { return false; }

bool input_oma::decode_get_dynamic_info_track(file_info&, double&) { return false; }

void input_oma::decode_on_idle(abort_callback&) {}
