// Trying the walk until a port comes (--wait): each try is one look, held,
// and ends where the walk would end the process.
#pragma once

#include "main/scan_ctx.h"
#include "options/options.h"
#include "report/report.h"

// The exit status when the wait is over without a line.
inline constexpr int wait_timed_out = 12;

// How often a wait tries again without word of a change, in milliseconds.
inline constexpr unsigned safety_interval_ms = 100;

// Tries at once, then after every change the system reports and at least
// every safety interval, until a try prints a line or ends with a failure
// report (seen again on a second look); returns its status with its output
// in `held`. When the options' wait_ms pass first, returns wait_timed_out
// with `held` empty.
int wait_for_port(scan_ctx& ctx, const run_options& options, held_run& held);
