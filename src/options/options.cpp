#include "options/options.h"

#include "device/device.h"
#include "main/main.h"
#include "report/text.h"

namespace {

constexpr unsigned max_wait_ms = 86400 * 1000;

// A decimal number of seconds from 0 to 86400 with at most three decimals,
// in milliseconds; false for anything else.
bool parse_seconds(wview text, unsigned& ms) {
    const std::size_t point = text.find(u'.');
    const wview whole = text.substr(0, point);
    const wview fraction = point == wview::npos ? wview() : text.substr(point + 1);
    if (whole.empty() || (point != wview::npos && (fraction.empty() || fraction.size() > 3))) return false;
    unsigned long long value = 0;
    for (WCHAR c : whole) {
        if (c < u'0' || c > u'9') return false;
        value = value * 10 + static_cast<unsigned>(c - u'0');
        if (value > max_wait_ms / 1000) return false;
    }
    unsigned long long scale = 100, thousandths = 0;
    for (WCHAR c : fraction) {
        if (c < u'0' || c > u'9') return false;
        thousandths += static_cast<unsigned>(c - u'0') * scale;
        scale /= 10;
    }
    value = value * 1000 + thousandths;
    if (value > max_wait_ms) return false;
    ms = static_cast<unsigned>(value);
    return true;
}

}  // namespace

int function_pid(wview pid) {
    if (pid.size() != 10 || !text_equal_nocase(pid.substr(4, 4), TEXT("&MI_")) || hex_digit(pid[8]) < 0 ||
        hex_digit(pid[9]) < 0)
        return any_interface;
    return static_cast<int>(interface_number(pid, 4));
}

bool is_option(const WCHAR* arg) {
    const wview word(arg);
    return word == TEXT("--wait") || word == TEXT("--json") || word == TEXT("--all-ports") || word == TEXT("--watch") ||
           word == TEXT("--wait-gone") || word == TEXT("--at");
}

int read_options(int argc, const WCHAR* const* argv, run_options& options) {
    int next = 1;
    while (next < argc && is_option(argv[next])) {
        const wview word(argv[next]);
        bool* flag = word == TEXT("--json")        ? &options.json
                     : word == TEXT("--all-ports") ? &options.all_ports
                     : word == TEXT("--watch")     ? &options.watch
                                                   : nullptr;
        if (flag) {
            if (*flag) usage(argv[0]);
            *flag = true;
            ++next;
            continue;
        }
        // The options that take a word: SECONDS or LOCATION.
        if (next + 1 >= argc) usage(argv[0]);
        const WCHAR* value = argv[next + 1];
        if (word == TEXT("--at")) {
            const std::size_t length = wview(value).size();
            if (options.at || length == 0 || length > 200) usage(argv[0]);
            options.at = value;
        } else {
            // --wait and --wait-gone wait for opposite ends: at most one.
            if (options.wait_text || !parse_seconds(value, options.wait_ms)) usage(argv[0]);
            options.wait_text = value;
            options.gone = word == TEXT("--wait-gone");
        }
        next += 2;
    }
    // A watch has no end to wait for; the ports' going has no document.
    if (options.watch && options.wait_text) usage(argv[0]);
    if (options.gone && options.json) usage(argv[0]);
    return next;
}
