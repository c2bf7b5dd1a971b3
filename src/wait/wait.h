// Trying the walk until a port comes (--wait) or goes (--wait-gone): each
// try is one look, held, and ends where the walk would end the process.
#pragma once

#include "options/options.h"
#include "report/report.h"
#include "walk/scan_ctx.h"

// The exit status when the wait is over without a line.
inline constexpr int wait_timed_out = 12;

// How often a wait tries again without word of a change, in milliseconds.
inline constexpr unsigned safety_interval_ms = 100;

// Tries at once, then after every change the system reports and at least
// every safety interval, until a try finds a port (only once it can be
// opened) or ends with a failure report (seen again on a second look);
// returns its status with its output in `held` and its ports in
// `ctx.listed`, which must be set. With --wait-gone, until a try finds
// none, also by status 10 or 11: then 0 with nothing held. When the
// options' wait_ms pass first, returns wait_timed_out with nothing held.
int wait_for_port(scan_ctx& ctx, const run_options& options, held_run& held);
