#include "options/options.h"

#include "device/device.h"
#include "json/json.h"
#include "main/main.h"
#include "report/report.h"
#include "report/text.h"
#include "wait/wait.h"
#include "walk/walk.h"

#include <vector>

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

// pppp&MI_nn, the PID of one function as the listing prints it: its
// interface number, or -1.
int function_pid(wview pid) {
    if (pid.size() != 10 || !text_equal_nocase(pid.substr(4, 4), TEXT("&MI_")) || hex_digit(pid[8]) < 0 ||
        hex_digit(pid[9]) < 0)
        return -1;
    return static_cast<int>(interface_number(pid, 4));
}

}  // namespace

bool is_option(const WCHAR* arg) {
    const wview word(arg);
    return word == TEXT("--wait") || word == TEXT("--json") || word == TEXT("--all-ports");
}

int read_options(int argc, const WCHAR* const* argv, run_options& options) {
    int next = 1;
    while (next < argc && is_option(argv[next])) {
        bool* flag = wview(argv[next]) == TEXT("--json")        ? &options.json
                     : wview(argv[next]) == TEXT("--all-ports") ? &options.all_ports
                                                                : nullptr;
        if (flag) {
            if (*flag) usage(argv[0]);
            *flag = true;
            ++next;
            continue;
        }
        if (options.wait_text || next + 1 >= argc || !parse_seconds(argv[next + 1], options.wait_ms))
            usage(argv[0]);
        options.wait_text = argv[next + 1];
        next += 2;
    }
    return next;
}

int run_with_options(int argc, const WCHAR* const* argv) {
    run_options options{};
    options.interface = any_interface;
    const int first = read_options(argc, argv, options);
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
    if (!options.wait_text && !options.json) {
        // Lines as they come, as a plain run writes them: nothing to hold.
        open_root(ctx);
        scan_by_device(ctx, options.interface);
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
        print_err(TEXT("No matching port appeared within %s seconds.\n"), options.wait_text);
    if (status != 0) end_process(status);
    return 0;
}
