#include "run/run.h"

#include "look/look.h"
#include "args/args.h"
#include "options/options.h"
#include "wait/wait.h"
#include "watch/watch.h"

#include <vector>

namespace {

int run_with_options(run_options& options, scan_ctx& ctx) {
    if (options.version) {
        // The version the program was built as, which its package carries.
        print_out(TEXT("portsift %s\n"), from_utf8(PORTSIFT_VERSION).c_str());
        return 0;
    }
    // An empty S/N names no instance, now or later: one look says so (and
    // that it is gone).
    if (ctx.serial && !*ctx.serial && !options.gone) options.watch = false, options.wait_text = nullptr;
    ctx.described = options.json;
    if (options.watch) return watch_ports(ctx, options);
    if (!options.wait_text && !options.json) {
        // Lines as they come, as a plain run writes them: nothing to hold.
        look(ctx, options);
        return 0;
    }
    std::vector<listed_port> ports;
    ctx.listed = &ports;
    held_run held;
    const int status = options.wait_text ? wait_for_port(ctx, options, held) : look_once(ctx, options, held);
    // The document stands in for the lines, and only a finished walk has
    // one: it is never half written.
    write_look(held, ports, options.json, status);
    if (status == wait_timed_out)
        print_err(options.gone ? TEXT("The port did not go within %s seconds.\n")
                               : TEXT("No matching port appeared within %s seconds.\n"),
                  options.wait_text);
    if (status != 0) end_process(status);
    return 0;
}

}  // namespace

int portsift_run(int argc, const WCHAR* const* argv) {
    // A command line that starts with an option is read by the options;
    // every other one by parse_args, for one look.
    run_options options{};
    scan_ctx ctx{};
    if (read_command_line(argc, argv, options, ctx)) return run_with_options(options, ctx);
    parse_args(argc, argv, ctx);
    look(ctx, options);
    return 0;
}
