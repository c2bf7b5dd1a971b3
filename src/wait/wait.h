// Trying the walk until a port comes (--wait) or goes (--wait-gone): each
// try is one look, held, and ends where the walk would end the process.
#pragma once

#include "main/scan_ctx.h"
#include "options/options.h"
#include "report/report.h"

// The exit status when the wait is over without a line.
inline constexpr int wait_timed_out = 12;

// How often a wait tries again without word of a change, in milliseconds.
inline constexpr unsigned safety_interval_ms = 100;

// Tries at once, then after every change the system reports and at least
// every safety interval, until a try prints a line (only once the port can
// be opened) or ends with a failure report (seen again on a second look);
// returns its status with its output in `held`. With --wait-gone, until a
// try prints nothing, also by status 10 or 11: then 0 with `held` empty.
// When the options' wait_ms pass first, returns wait_timed_out with `held`
// empty.
int wait_for_port(scan_ctx& ctx, const run_options& options, held_run& held);
