// The port queries on macOS: emulated over the image, as on Linux.
#include "platform/platform.h"

// The emulated port queries need nothing loaded.
void prepare_port_query() {}
