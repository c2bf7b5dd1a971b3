#include "watch/watch.h"

#include "json/json.h"
#include "look/look.h"

#include <set>
#include <utility>
#include <vector>

namespace {

// A look at least this often, in milliseconds, without word of a change.
constexpr unsigned look_interval_ms = 1000;

// What a look shows of each port: its listing line without the line end,
// or with --json its object on one line.
std::vector<wtext> ports_shown(const std::vector<listed_port>& listed, bool json) {
    std::vector<wtext> ports;
    for (const listed_port& port : listed)
        if (json)
            put_port(ports.emplace_back(), port, true);
        else
            ports.push_back(port.line);
    return ports;
}

// One event, written whole and flushed at once: a reader never waits for
// a buffer, nor sees half a line.
void tell(const wtext& event) {
    put_text(out_stream::standard_output, event.data(), event.size());
    flush_out();
}

void tell_change(bool added, const wtext& port, bool json) {
    if (json)
        tell(wtext(TEXT("{\"version\":1,\"event\":\"")) + (added ? TEXT("add") : TEXT("remove")) + TEXT("\",\"port\":") +
             port + TEXT("}\n"));
    else
        tell((added ? TEXT("+ ") : TEXT("- ")) + port + TEXT("\n"));
}

// Removals first (a port whose line changed goes, then comes), each as it
// was last seen; then arrivals, in the listing's order.
void tell_changes(const std::vector<wtext>& before, const std::vector<wtext>& now, bool json) {
    const std::set<wview> had(before.begin(), before.end()), has(now.begin(), now.end());
    for (const wtext& port : before)
        if (!has.count(port)) tell_change(false, port, json);
    for (const wtext& port : now)
        if (!had.count(port)) tell_change(true, port, json);
}

}  // namespace

int watch_ports(scan_ctx& ctx, const run_options& options) {
    // The ports each look lists: their lines, and with --json their objects.
    std::vector<listed_port> listed;
    ctx.listed = &listed;
    catch_end_requests();
    // Before the first look, so that no change after it is missed.
    watch_changes();
    std::vector<wtext> shown;
    std::set<wtext> said;  // messages already written: each once for the whole watch
    held_run held;
    for (bool first = true;; first = false) {
        const int status = look_twice_at_failure(ctx, options, held);
        // Not attached yet (10, 11) is no error while watching: no ports.
        if (status != 10 && status != 11)
            for (const held_write& write : held.writes)
                if (write.stream == out_stream::standard_error && said.insert(write.text).second)
                    print_err(TEXT("%s"), write.text.c_str());
        if (status == 2) return 2;
        std::vector<wtext> now = status == 0 ? ports_shown(listed, options.json) : std::vector<wtext>();
        tell_changes(shown, now, options.json);
        shown = std::move(now);
        if (first && options.json) tell(TEXT("{\"version\":1,\"event\":\"ready\"}\n"));
        while (!end_requested() && !wait_for_change(look_interval_ms)) {
        }
        if (end_requested()) return 0;
    }
}
