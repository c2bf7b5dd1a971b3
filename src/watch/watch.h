// Ports as they come and go (--watch): a look at once and after every
// change, each look the whole lookup, and an event for every port whose
// line (or object) appears or goes between two looks.
#pragma once

#include "options/options.h"
#include "walk/scan_ctx.h"

// Writes the ports present now as arrivals (with --json, then the "ready"
// line), then one line per change, until an end is requested (status 0),
// the reader of standard output goes away (status 0), or a failure report
// stands on a second look (status 2, the report written). Returns the
// status.
int watch_ports(scan_ctx& ctx, const run_options& options);
