// One look, for every run mode: the registry's source opened with what the
// run needs, the root opened and walked once, by device or as specified.
#pragma once

#include "options/options.h"
#include "report/report.h"
#include "walk/listed.h"
#include "walk/scan_ctx.h"

#include <vector>

// How long a failure is let stand before it is looked at again.
inline constexpr unsigned failure_recheck_ms = 50;

// Looks once with the filters in `ctx`, by device when `options` ask for
// it. Each port's line is printed as it is found, or kept in `ctx.listed`
// when that is set; a failure ends the run where it is found.
void look(scan_ctx& ctx, const run_options& options);

// The same, held: what the look writes goes to `held`, the ports it finds
// to `ctx.listed`, which must be set. Returns the status the run would have
// ended with. The keys a run ends on are closed, where the process end
// would release them.
int look_once(scan_ctx& ctx, const run_options& options, held_run& held);

// The same, but a failure (status 2) stands only once a second look, a
// moment later, finds it too: a live registry may be caught half way
// through adding a device (a port's instance key before its Device
// Parameters).
int look_twice_at_failure(scan_ctx& ctx, const run_options& options, held_run& held);

// Writes what a held look wrote and the ports it kept, as a look that is
// not held would have: each port's line in its place among the messages;
// with `json`, the messages and then, after a look that finished (status
// 0), the document in place of the lines.
void write_look(const held_run& held, const std::vector<listed_port>& ports, bool json, int status);
