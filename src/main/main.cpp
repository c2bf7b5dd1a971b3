#include "main/main.h"

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

void parse_args(int argc, const WCHAR* const* argv, scan_ctx& ctx) {
    if (argc > 4) usage(argv[0]);
    if (argc < 2) return;
    if (is_help_switch(argv[1])) usage(argv[0]);
    // A single argument is accepted and ignored: every port is listed.
    if (argc == 2) return;
    ctx.vid = argv[1];
    ctx.pid = argv[2];
    if (wview(ctx.vid).size() != 4 || wview(ctx.pid).size() != 4) usage(argv[0]);
    if (argc == 4) {
        ctx.serial = argv[3];
        if (wview(ctx.serial).size() > 200) usage(argv[0]);
    }
}
