// The port queries on Linux.
#include "platform/platform.h"

// The emulated port queries need nothing loaded.
void prepare_port_query() {}
