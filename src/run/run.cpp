#include "run/run.h"

#include "all_ports/all_ports.h"
#include "json/json.h"
#include "look/look.h"
#include "main/main.h"
#include "options/options.h"
#include "wait/wait.h"
#include "watch/watch.h"
#include "walk/walk.h"

#include <vector>

namespace {

int run_with_options(run_options& options, scan_ctx& ctx) {
    if (options.version) {
        // The version the program was built as, which its package carries.
        print_out(TEXT("portsift %s\n"), from_utf8(PORTSIFT_VERSION).c_str());
        return 0;
    }
    if (options.at) locate_devices();
    // An empty S/N names no instance, now or later: one look says so (and
    // that it is gone).
    if (ctx.serial && !*ctx.serial && !options.gone) options.watch = false, options.wait_text = nullptr;
    if (options.watch) return watch_ports(ctx, options);
    if (!options.wait_text && !options.json) {
        // Lines as they come, as a plain run writes them: nothing to hold.
        open_root(ctx);
        if (options.all_ports)
            scan_by_device(ctx, options.interface);
        else
            scan_devices(ctx);
        return 0;
    }
    std::vector<listed_port> ports;
    if (options.json) {
        ctx.listed = &ports;
        describe_devices();
    }
    held_run held;
    held.listing = !options.json;
    const int status = options.wait_text ? wait_for_port(ctx, options, held) : look_once(ctx, options, held);
    // The document stands in for the lines, and only a finished walk has
    // one: it is never half written.
    replay(held);
    if (options.json && status == 0) write_document(ports);
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
    // every other one runs as it always has.
    run_options options{};
    scan_ctx ctx{};
    if (read_command_line(argc, argv, options, ctx)) return run_with_options(options, ctx);
    return portsift_main(argc, argv);
}
