#include "args/args.h"

#include "report/report.h"
#include "text/text.h"

bool is_help_switch(const WCHAR* arg) {
    return ascii_equal_nocase(arg, TEXT("-h")) || ascii_equal_nocase(arg, TEXT("--help"));
}

void usage(const WCHAR* program) {
    print_err(TEXT("portsift v1 (2011-04-06)\n\nUsage:\n\t%s: [VID PID] [S/N]\n\n"
                   "Lists all USB CDC (serial port) devices matching the given filters.\n"
                   "VID and PID should be strings of 4 hexadecimal digits and S/N should\n"
                   "be less than 200 characters.\n"),
              program);
    end_process(1);
}

void set_filters(const WCHAR* const* words, int count, scan_ctx& ctx) {
    if (count < 2) return;
    ctx.vid = words[0];
    ctx.pid = words[1];
    if (count == 3) ctx.serial = words[2];
}

void parse_args(int argc, const WCHAR* const* argv, scan_ctx& ctx) {
    if (argc > 4) usage(argv[0]);
    if (argc < 2) return;
    if (is_help_switch(argv[1])) usage(argv[0]);
    // A single argument is accepted and ignored: every port is listed.
    if (argc == 2) return;
    if (wview(argv[1]).size() != 4 || wview(argv[2]).size() != 4) usage(argv[0]);
    if (argc == 4 && wview(argv[3]).size() > 200) usage(argv[0]);
    set_filters(argv + 1, argc - 1, ctx);
}
