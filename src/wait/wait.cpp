#include "wait/wait.h"

#include "device/device.h"
#include "json/json.h"
#include "walk/walk.h"

#include <algorithm>
#include <chrono>

int try_scan(scan_ctx& ctx, const run_options& options, held_run& held) {
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
    if (status == 11) RegCloseKey(ctx.dev_key);
    if (ctx.usb_key) RegCloseKey(ctx.usb_key);
    return status;
}

int wait_for_port(scan_ctx& ctx, const run_options& options, held_run& held) {
    using clock = std::chrono::steady_clock;
    watch_changes();
    const auto deadline = clock::now() + std::chrono::milliseconds(options.wait_ms);
    for (bool fresh = true;;) {
        if (fresh) {
            int status = try_scan(ctx, options, held);
            // A live registry may be caught half way through adding a device
            // (a port's instance key before its Device Parameters): a failure
            // stands once a second look, a moment later, finds it too.
            if (status == 2) {
                wait_for_change(failure_recheck_ms);
                status = try_scan(ctx, options, held);
            }
            // Not attached yet: no such device key, no such instance, or
            // no line. Anything else ends the wait with this try.
            const bool absent = status == 10 || status == 11 || (status == 0 && !held.printed);
            if (!absent) return status;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now());
        if (left.count() <= 0) {
            held.writes.clear();
            return wait_timed_out;
        }
        fresh = wait_for_change(static_cast<unsigned>(std::min<long long>(left.count(), safety_interval_ms)));
    }
}
