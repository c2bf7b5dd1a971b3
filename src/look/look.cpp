#include "look/look.h"

#include "all_ports/all_ports.h"
#include "json/json.h"
#include "registry/registry.h"
#include "walk/walk.h"

namespace {

// What the registry is to carry for the run `options` ask for.
source_needs needs_of(const run_options& options) {
    return source_needs{.descriptions = options.json,
                        .locations = options.at != nullptr,
                        .ready_ports = options.watch || (options.wait_text && !options.gone)};
}

void walk_once(scan_ctx& ctx, const run_options& options) {
    open_registry(needs_of(options));
    open_root(ctx);
    if (options.all_ports)
        scan_by_device(ctx, options.interface);
    else
        scan_devices(ctx);
}

}  // namespace

void look(scan_ctx& ctx, const run_options& options) { walk_once(ctx, options); }

int look_once(scan_ctx& ctx, const run_options& options, held_run& held) {
    held = held_run{};
    ctx.listed->clear();
    hold_output(&held);
    ctx.usb_key = nullptr;
    int status = 0;
    try {
        walk_once(ctx, options);
    } catch (const run_end& end) {
        status = end.status;
    }
    hold_output(nullptr);
    // The process end would release what the run left open: the root, and
    // after status 11 the device key. (A failure may leave the keys it was
    // in open too; it is looked at once more, then the process ends.)
    const owned_key device(status == 11 ? ctx.dev_key : nullptr), root(ctx.usb_key);
    return status;
}

int look_twice_at_failure(scan_ctx& ctx, const run_options& options, held_run& held) {
    const int status = look_once(ctx, options, held);
    if (status != 2) return status;
    wait_for_change(failure_recheck_ms);
    return look_once(ctx, options, held);
}

void write_look(const held_run& held, const std::vector<listed_port>& ports, bool json, int status) {
    std::size_t shown = 0;
    const auto show_lines_to = [&](std::size_t count) {
        for (; !json && shown < count && shown < ports.size(); ++shown) print_out(TEXT("%s\n"), ports[shown].line.c_str());
    };
    for (const held_write& write : held.writes) {
        show_lines_to(write.after_ports);
        put_text(write.stream, write.text.data(), write.text.size());
    }
    show_lines_to(ports.size());
    if (json && status == 0) write_document(ports);
}
