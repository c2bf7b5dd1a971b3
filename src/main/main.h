// The specified command line (parse_args, usage) and the run of a command
// line that starts with no option: the root opened and walked once.
#pragma once

#include "main/scan_ctx.h"

// Sets the filter fields of `ctx` from the arguments (argument 0 is the
// program's name), or prints the usage text and ends the run with status 1.
void parse_args(int argc, const WCHAR* const* argv, scan_ctx& ctx);

// True for the help switches, -h and --help, without regard to case.
bool is_help_switch(const WCHAR* arg);

// Prints the usage text with the program's name and ends the run with status 1.
[[noreturn]] void usage(const WCHAR* program);

// Opens the USB device tree into `usb_key` and walks it; a failure to open
// it ends the run with status 2. The root key is left open.
void scan_root(scan_ctx& ctx);

// The whole run: returns 0 when the walk finishes; every other status ends
// the process where its condition is found.
int portsift_main(int argc, const WCHAR* const* argv);
