#include "options/options.h"

#include "args/args.h"
#include "registry/usb_names.h"
#include "report/report.h"
#include "text/text.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <vector>

namespace {

constexpr unsigned max_wait_ms = 86400 * 1000;

// The most of a word a refusal quotes.
constexpr std::size_t quoted_at_most = 200;

// The option table: each option word with its id, the value it takes, what
// it does to the synopsis, the options it cannot go with and its line in
// the help. The reader, the help and the synopsis are made from it.
enum class option_id { wait, wait_gone, json, all_ports, watch, at, version };

enum class option_role {
    modifier,  // goes with a run of any mode it does not clash with
    mode,      // starts a synopsis line of its own
    first,     // starts the first synopsis line, which stands without it too
    alone,     // stands alone on the command line
};

struct option_word {
    option_id id;
    const WCHAR* word;
    const WCHAR* value;  // the word that follows it (SECONDS, LOCATION), or null
    option_role role;
    std::initializer_list<option_id> clashes;  // refused beside it, in the order they are checked
    const WCHAR* help;
};

constexpr option_word option_words[] = {
    {option_id::wait, TEXT("--wait"), TEXT("SECONDS"), option_role::first, {option_id::watch, option_id::wait_gone},
     TEXT("wait up to SECONDS for a port, handed over once it can be opened")},
    {option_id::wait_gone, TEXT("--wait-gone"), TEXT("SECONDS"), option_role::mode, {option_id::watch, option_id::json},
     TEXT("wait up to SECONDS for the ports to go")},
    {option_id::json, TEXT("--json"), nullptr, option_role::modifier, {}, TEXT("print the ports as one JSON document")},
    {option_id::all_ports, TEXT("--all-ports"), nullptr, option_role::modifier, {},
     TEXT("name and find every port by its USB device")},
    {option_id::watch, TEXT("--watch"), nullptr, option_role::mode, {}, TEXT("stream the ports as they come and go")},
    {option_id::at, TEXT("--at"), TEXT("LOCATION"), option_role::modifier, {},
     TEXT("only the ports plugged in at LOCATION (1-6.2, Port_#0002.Hub_#0001)")},
    {option_id::version, TEXT("--version"), nullptr, option_role::alone, {}, TEXT("print the version")},
};

// The word that ends the options: what follows is VID PID S/N, whatever it
// starts with.
constexpr const WCHAR* end_of_options = TEXT("--");

unsigned bit(option_id id) { return 1u << static_cast<unsigned>(id); }

// Each option's row is found by its id.
static_assert([] {
    for (std::size_t i = 0; i < std::size(option_words); ++i)
        if (static_cast<std::size_t>(option_words[i].id) != i) return false;
    return true;
}(), "the option table is in the order of the ids");

const option_word& row_of(option_id id) { return option_words[static_cast<std::size_t>(id)]; }

bool clash(const option_word& one, const option_word& other) {
    const auto listed = [](const option_word& a, const option_word& b) {
        for (const option_id id : a.clashes)
            if (id == b.id) return true;
        return false;
    };
    return listed(one, other) || listed(other, one);
}

const option_word* find_option(wview word) {
    for (const option_word& option : option_words)
        if (word == option.word) return &option;
    return nullptr;
}

// "WORD" or "WORD VALUE", and in brackets where it may be left out.
wtext usage_of(const option_word& option, bool optional) {
    wtext text(optional ? TEXT("[") : TEXT(""));
    text += option.word;
    if (option.value) text.append(1, u' ').append(option.value);
    if (optional) text += u']';
    return text;
}

// A synopsis line for each mode: the mode, the modifiers that go with it,
// then the filters.
void print_synopsis(const WCHAR* program) {
    for (const option_word& mode : option_words) {
        if (mode.role == option_role::modifier) continue;
        wtext line = usage_of(mode, mode.role == option_role::first);
        for (const option_word& option : option_words)
            if (mode.role != option_role::alone && option.role == option_role::modifier && !clash(mode, option))
                line.append(1, u' ').append(usage_of(option, true));
        if (mode.role != option_role::alone) line += TEXT(" [VID PID [S/N]]");
        print_err(TEXT("%s %s\n"), program, line.c_str());
    }
}

// The synopsis and a line for each option, status 1, as the help switch
// ends a run.
[[noreturn]] void help(const WCHAR* program) {
    print_synopsis(program);
    print_err(TEXT("\n"));
    for (const option_word& option : option_words) {
        wtext name = usage_of(option, false);
        name.resize(std::max<std::size_t>(name.size(), 20), u' ');
        print_err(TEXT("  %s %s\n"), name.c_str(), option.help);
    }
    end_process(1);
}

// "portsift: REASON" and the synopsis on standard error, status 1.
[[noreturn]] void refuse(const WCHAR* program, const wtext& reason) {
    print_err(TEXT("portsift: %s\n"), reason.c_str());
    print_synopsis(program);
    end_process(1);
}

// The parts one after another: a reason, an option between blanks.
wtext joined(std::initializer_list<wview> parts) {
    wtext text;
    for (const wview part : parts) text.append(part);
    return text;
}

// A word as a refusal shows it: past its first 200 characters, "..." in
// place of the rest.
wtext shown(wview word) {
    if (word.size() <= quoted_at_most) return wtext(word);
    return joined({word.substr(0, quoted_at_most), TEXT("...")});
}

wtext quoted(wview word) { return joined({TEXT("'"), shown(word), TEXT("'")}); }

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

// Takes the value of `option` into `options`, or refuses it.
void take_value(const WCHAR* program, const option_word& option, const WCHAR* value, run_options& options) {
    switch (option.id) {
    case option_id::at: {
        const std::size_t length = wview(value).size();
        if (length == 0 || length > 200)
            refuse(program, joined({TEXT("--at takes a location of 1 to 200 characters: "), quoted(value)}));
        options.at = value;
        return;
    }
    case option_id::wait:
    case option_id::wait_gone:
        if (!parse_seconds(value, options.wait_ms))
            refuse(program, joined({option.word, TEXT(" takes seconds from 0 to 86400 with at most three decimals: "),
                                    quoted(value)}));
        options.wait_text = value;
        options.gone = option.id == option_id::wait_gone;
        return;
    default: return;
    }
}

// Sets what an option without a value asks for.
void take_switch(const option_word& option, run_options& options) {
    switch (option.id) {
    case option_id::json: options.json = true; return;
    case option_id::all_ports: options.all_ports = true; return;
    case option_id::watch: options.watch = true; return;
    case option_id::version: options.version = true; return;
    default: return;
    }
}

// What may stand after the options: nothing, VID PID or VID PID S/N, each
// of the lengths the lookup takes. Past the end of the options (`ended`),
// a word that begins with "-" is a filter like any other.
void check_filters(const WCHAR* program, const WCHAR* const* words, int count, const run_options& options,
                   bool ended) {
    for (int i = 0; i < count && !ended; ++i) {
        const wview word(words[i]);
        if (word.empty() || word.front() != u'-') continue;
        if (is_help_switch(word.data())) help(program);
        if (find_option(word)) refuse(program, joined({quoted(word), TEXT(": options come before VID and PID")}));
        refuse(program, joined({TEXT("unknown option "), quoted(word)}));
    }
    if (count == 1) refuse(program, joined({quoted(words[0]), TEXT(": give the VID and the PID as two words")}));
    if (count > 3) refuse(program, joined({quoted(words[3]), TEXT(": nothing can follow the S/N")}));
    if (count == 0) return;
    const wview vid(words[0]), pid(words[1]);
    if (vid.size() != 4) refuse(program, joined({quoted(vid), TEXT(": a VID is four characters, such as 2E8A")}));
    if (pid.size() != 4 && function_pid(pid) == any_interface)
        refuse(program, joined({quoted(pid), options.all_ports
                                                 ? TEXT(": a PID is four characters, or a function's pppp&MI_nn")
                                                 : TEXT(": a PID is four characters, such as 000A")}));
    if (pid.size() != 4 && !options.all_ports)
        refuse(program, joined({TEXT("a function's PID ("), pid, TEXT(") needs --all-ports")}));
    if (count == 3 && wview(words[2]).size() > 200)
        refuse(program, joined({TEXT("an S/N is at most 200 characters: "), quoted(words[2])}));
}

// Reads the options at the start of the command line into `options`, and
// checks what follows them; returns the index of the first word after them
// (and after the "--" that ends them, if one does).
int read_options(int argc, const WCHAR* const* argv, run_options& options) {
    const WCHAR* program = argv[0];
    unsigned given = 0;
    int next = 1;
    bool ended = false;
    for (; next < argc && argv[next][0] == u'-'; ++next) {
        const wview word(argv[next]);
        if (word == end_of_options) {
            ended = true;
            ++next;
            break;
        }
        if (is_help_switch(word.data())) help(program);
        const option_word* option = find_option(word);
        if (!option) {
            const std::size_t equals = word.find(u'=');
            const option_word* meant = equals == wview::npos ? nullptr : find_option(word.substr(0, equals));
            refuse(program, meant ? joined({TEXT("unknown option "), quoted(word), TEXT(": write "),
                                            word.substr(0, equals), TEXT(" "), shown(word.substr(equals + 1))})
                                  : joined({TEXT("unknown option "), quoted(word)}));
        }
        if (given & bit(option->id)) refuse(program, joined({word, TEXT(" is given twice")}));
        given |= bit(option->id);
        if (option->value) {
            if (next + 1 >= argc) refuse(program, joined({word, TEXT(" needs its "), option->value}));
            take_value(program, *option, argv[++next], options);
        } else {
            take_switch(*option, options);
        }
    }
    // Options that ask for opposite things.
    for (const option_word& one : option_words)
        for (const option_id other : one.clashes)
            if ((given & bit(one.id)) && (given & bit(other)))
                refuse(program, joined({one.word, TEXT(" and "), row_of(other).word, TEXT(" cannot be combined")}));
    for (const option_word& option : option_words)
        if (option.role == option_role::alone && (given & bit(option.id)) && (given != bit(option.id) || next < argc))
            refuse(program, joined({option.word, TEXT(" stands alone")}));
    check_filters(program, argv + next, argc - next, options, ended);
    return next;
}

}  // namespace

bool read_command_line(int argc, const WCHAR* const* argv, run_options& options, scan_ctx& ctx) {
    if (argc < 2 || !find_option(argv[1])) return false;
    options.interface = any_interface;
    const int first = read_options(argc, argv, options);
    if (options.version) return true;
    // The filters, checked with the options.
    const WCHAR* const* words = argv + first;
    set_filters(words, argc - first, ctx);
    // By device, the PID may name one function: the filter is then its
    // model's four characters, and the function is kept apart.
    if (options.all_ports && ctx.pid) {
        options.interface = function_pid(ctx.pid);
        if (options.interface != any_interface) {
            options.model_pid = wview(ctx.pid).substr(0, 4);
            ctx.pid = options.model_pid.c_str();
        }
    }
    ctx.at = options.at;
    return true;
}
