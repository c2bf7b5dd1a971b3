// The specified command line: parse_args, the help switches and the usage
// text.
#pragma once

#include "walk/scan_ctx.h"

// Sets the filter fields of `ctx` from the arguments (argument 0 is the
// program's name), or prints the usage text and ends the run with status 1.
void parse_args(int argc, const WCHAR* const* argv, scan_ctx& ctx);

// Sets the filter fields of `ctx` from `count` words, checked before: none,
// VID PID, or VID PID S/N.
void set_filters(const WCHAR* const* words, int count, scan_ctx& ctx);

// True for the help switches, -h and --help, without regard to case.
bool is_help_switch(const WCHAR* arg);

// Prints the usage text with the program's name and ends the run with status 1.
[[noreturn]] void usage(const WCHAR* program);
