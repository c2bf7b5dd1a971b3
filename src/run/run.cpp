#include "run/run.h"

#include "device/device.h"
#include "json/json.h"
#include "look/look.h"
#include "main/main.h"
#include "options/options.h"
#include "registry/usb_names.h"
#include "wait/wait.h"
#include "watch/watch.h"
#include "walk/walk.h"

#include <vector>

namespace {

int run_with_options(int argc, const WCHAR* const* argv) {
    run_options options{};
    options.interface = any_interface;
    const int first = read_options(argc, argv, options);
    if (options.version) {
        // The version the program was built as, which its package carries.
        print_out(TEXT("portsift %s\n"), from_utf8(PORTSIFT_VERSION).c_str());
        return 0;
    }
    // The rest is read as a whole command line, under the program's name.
    std::vector<const WCHAR*> rest{argv[0]};
    rest.insert(rest.end(), argv + first, argv + argc);
    rest.push_back(nullptr);
    // By device, the PID may name one function: the filter is then its
    // first four characters, and the function is kept apart.
    wtext model_pid;
    if (options.all_ports && rest.size() >= 4) {
        options.interface = function_pid(rest[2]);
        if (options.interface != any_interface) {
            model_pid = wview(rest[2]).substr(0, 4);
            rest[2] = model_pid.c_str();
        }
    }
    scan_ctx ctx{};
    parse_args(static_cast<int>(rest.size()) - 1, rest.data(), ctx);
    ctx.at = options.at;
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
    const int status = options.wait_text ? wait_for_port(ctx, options, held) : try_scan(ctx, options, held);
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
    if (argc > 1 && is_option(argv[1])) return run_with_options(argc, argv);
    return portsift_main(argc, argv);
}
