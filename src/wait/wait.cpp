#include "wait/wait.h"

#include "look/look.h"

#include <algorithm>
#include <chrono>

int wait_for_port(scan_ctx& ctx, const run_options& options, held_run& held) {
    using clock = std::chrono::steady_clock;
    // Before the first try, so that no change during it is missed. A port
    // is handed over only once it can be opened (the look asks the source
    // for ready ports); its going needs no such wait.
    watch_changes();
    const auto deadline = clock::now() + std::chrono::milliseconds(options.wait_ms);
    for (bool fresh = true;;) {
        if (fresh) {
            const int status = look_twice_at_failure(ctx, options, held);
            // Not attached yet: no such device key, no such instance, or
            // no port. Anything else ends the wait with this try.
            const bool absent = status == 10 || status == 11 || (status == 0 && ctx.listed->empty());
            if (options.gone ? status == 2 : !absent) return status;
            // Gone: the run would print nothing, and says nothing of it.
            if (options.gone && absent) {
                held = held_run{};
                ctx.listed->clear();
                return 0;
            }
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now());
        if (left.count() <= 0) {
            held = held_run{};
            ctx.listed->clear();
            return wait_timed_out;
        }
        fresh = wait_for_change(static_cast<unsigned>(std::min<long long>(left.count(), safety_interval_ms)));
    }
}
