// Messages on standard error, listing lines on standard output, and the
// failure reports that end a run with status 2.
#pragma once

#include "registry/platform.h"

// Wide formatted output: "%s" takes a wide string (null prints "(null)"),
// "%ld" a long, "%%" a percent sign. Standard error is flushed at once.
void print_err(const WCHAR* format, ...);
void print_out(const WCHAR* format, ...);

// Writes "tag: code: system text\n" for the thread's last-error code, or
// "formatting error" in place of the text when the system has none.
// Returns 0 when the system text was used, 1 for the fallback.
int report_error(const WCHAR* tag);

// Reports the thread's last error under `tag` and ends the run with status 2.
[[noreturn]] void fail(const WCHAR* tag);

// Reports `status`, the code a registry call returned, under `tag` and ends
// the run with status 2. Registry calls return their status rather than
// setting the last error, so it is set here for the report to carry.
[[noreturn]] void fail_status(const WCHAR* tag, LONG status);
