// A loadable module without the component entry point, for the host's
// refusal path.
#include "platform/export.h"

extern "C" CQ_EXPORT int playhost_not_a_component() { return 1; }
