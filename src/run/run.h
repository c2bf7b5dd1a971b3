// The run modes: a command line that starts with an option is read by the
// options and run as they ask, one look (held, for --json), a wait or a
// watch; every other command line is read by parse_args and runs one look.
#pragma once

#include "platform/platform.h"

// The whole run: returns its exit status, or ends the process where a
// status is found.
int portsift_run(int argc, const WCHAR* const* argv);
