// One look: the walk run once, by device or as specified, with its output
// held, for the run modes that look more than once or print another form.
#pragma once

#include "main/scan_ctx.h"
#include "options/options.h"
#include "report/report.h"

// How long a failure is let stand before it is looked at again.
inline constexpr unsigned failure_recheck_ms = 50;

// Opens the root and walks it once, with the filters in `ctx`, by device
// when `options` ask for it; what it writes goes to `held`, the ports it
// lists to `ctx.listed` when set. Returns the status the run would have
// ended with. The keys a run ends on are closed, where the process end
// would release them.
int look_once(scan_ctx& ctx, const run_options& options, held_run& held);

// The same, but a failure (status 2) stands only once a second look, a
// moment later, finds it too: a live registry may be caught half way
// through adding a device (a port's instance key before its Device
// Parameters).
int look_twice_at_failure(scan_ctx& ctx, const run_options& options, held_run& held);
