#include "watch/watch.h"

#include "json/json.h"
#include "look/look.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
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

// When a change was seen: the UTC time now, in RFC 3339 with milliseconds
// (2026-12-09T03:21:07.125Z), never before the last one told, so that a
// clock set back does not make a log go back.
wtext event_time() {
    using namespace std::chrono;
    static sys_time<milliseconds> last{};
    const sys_time<milliseconds> now = std::max(floor<milliseconds>(system_clock::now()), last);
    last = now;
    const sys_days day = floor<days>(now);
    const year_month_day date(day);
    const hh_mm_ss<milliseconds> time(now - day);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return from_utf8(text);
}

// The start of a JSON event: its kind and its time.
wtext json_event(const WCHAR* kind) {
    return wtext(TEXT("{\"version\":1,\"event\":\"")) + kind + TEXT("\",\"time\":\"") + event_time() + TEXT("\"");
}

void tell_change(bool added, const wtext& port, bool json) {
    if (json)
        tell(json_event(added ? TEXT("add") : TEXT("remove")) + TEXT(",\"port\":") + port + TEXT("}\n"));
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
        if (first && options.json) tell(json_event(TEXT("ready")) + TEXT("}\n"));
        while (!end_requested() && !wait_for_change(look_interval_ms)) {
        }
        if (end_requested()) return 0;
    }
}
