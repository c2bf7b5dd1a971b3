// The options that come before the filters: --wait SECONDS, --wait-gone
// SECONDS, --json, --all-ports, --watch, --at LOCATION and --version.
#pragma once

#include "report/text.h"

struct run_options {
    const WCHAR* wait_text;  // SECONDS as typed, or null without --wait or --wait-gone
    unsigned wait_ms;        // SECONDS in milliseconds
    bool gone;               // --wait-gone: the wait is for the ports to go
    bool json;
    bool all_ports;          // ports by USB device, whatever interface or driver
    int interface;           // with --all-ports, the function a PID written pppp&MI_nn names
    bool watch;              // a stream of the ports as they come and go
    const WCHAR* at;         // --at: the one location whose ports are listed, or null
    bool version;            // --version
};

// True when `arg` is one of the options' words, exactly as written.
bool is_option(const WCHAR* arg);

// Reads the options at the start of the command line into `options` and
// returns the index of the first argument after them, which are nothing,
// VID PID or VID PID S/N of the lengths the lookup takes. Anything else
// (an unknown option, a malformed value, an option twice or beside one it
// cannot go with, another number of words after them) prints
// "portsift: REASON" and the synopsis, and a help switch the synopsis and
// the options; both end the run with status 1.
int read_options(int argc, const WCHAR* const* argv, run_options& options);
