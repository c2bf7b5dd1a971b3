#include "look/look.h"

#include "all_ports/all_ports.h"
#include "json/json.h"
#include "registry/registry.h"
#include "walk/walk.h"

int look_once(scan_ctx& ctx, const run_options& options, held_run& held) {
    held = held_run{{}, false, held.listing};
    if (ctx.listed) ctx.listed->clear();
    hold_output(&held);
    ctx.usb_key = nullptr;
    int status = 0;
    try {
        open_root(ctx);
        if (options.all_ports)
            scan_by_device(ctx, options.interface);
        else
            scan_devices(ctx);
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
