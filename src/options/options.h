// The options that come before the filters: --wait SECONDS, --json and
// --all-ports.
#pragma once

#include "registry/platform.h"

struct run_options {
    const WCHAR* wait_text;  // SECONDS as typed, or null without --wait
    unsigned wait_ms;        // SECONDS in milliseconds
    bool json;
    bool all_ports;          // ports by USB device, whatever interface or driver
    int interface;           // with --all-ports, the function a PID written pppp&MI_nn names
};

// True when `arg` is one of the options' words, exactly as written.
bool is_option(const WCHAR* arg);

// Reads the options at the start of the command line into `options` and
// returns the index of the first argument after them. A missing or
// malformed SECONDS, or an option given twice, prints the usage text and
// ends the run with status 1.
int read_options(int argc, const WCHAR* const* argv, run_options& options);

// The run of a command line that starts with an option: the options, then
// the rest read as a whole command line is, then the walk, tried until a
// port comes when --wait asks for it. Returns the exit status.
int run_with_options(int argc, const WCHAR* const* argv);
