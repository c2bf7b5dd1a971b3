// The options that come before the filters: --wait SECONDS, --wait-gone
// SECONDS, --json, --all-ports, --watch, --at LOCATION and --version.
#pragma once

#include "walk/scan_ctx.h"
#include "text/text.h"

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
    wtext model_pid;         // the model's PID of a function's PID, which the filter borrows
};

// The options are followed by nothing, VID PID or VID PID S/N of the
// lengths the lookup takes. Anything else
// (an unknown option, a malformed value, an option twice or beside one it
// cannot go with, another number of words after them) prints
// "portsift: REASON" and the synopsis, and a help switch the synopsis and
// the options; both end the run with status 1.
// False, with nothing read, when the command line does not start with an
// option: it is then read by parse_args. Otherwise reads it in one pass:
// the options into `options`, then what follows them, once checked, into
// the filters of `ctx` (set_filters), a function's PID (pppp&MI_nn, with
// --all-ports) as its model's PID with the interface kept in `options`.
bool read_command_line(int argc, const WCHAR* const* argv, run_options& options, scan_ctx& ctx);
