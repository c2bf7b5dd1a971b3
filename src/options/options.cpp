#include "options/options.h"

#include "main/main.h"
#include "registry/usb_names.h"
#include "report/report.h"
#include "report/text.h"

#include <algorithm>
#include <initializer_list>
#include <vector>

namespace {

constexpr unsigned max_wait_ms = 86400 * 1000;

// The option words, each with what it takes and its line in the help.
struct option_word {
    const WCHAR* word;
    const WCHAR* value;  // the word that follows it (SECONDS, LOCATION), or null
    const WCHAR* help;
};

constexpr option_word option_words[] = {
    {TEXT("--wait"), TEXT("SECONDS"), TEXT("wait up to SECONDS for a port, handed over once it can be opened")},
    {TEXT("--wait-gone"), TEXT("SECONDS"), TEXT("wait up to SECONDS for the ports to go")},
    {TEXT("--json"), nullptr, TEXT("print the ports as one JSON document")},
    {TEXT("--all-ports"), nullptr, TEXT("name and find every port by its USB device")},
    {TEXT("--watch"), nullptr, TEXT("stream the ports as they come and go")},
    {TEXT("--at"), TEXT("LOCATION"), TEXT("only the ports plugged in at LOCATION (1-6.2, Port_#0002.Hub_#0001)")},
    {TEXT("--version"), nullptr, TEXT("print the version")},
};

constexpr const WCHAR* synopsis[] = {
    TEXT("[--wait SECONDS] [--json] [--all-ports] [--at LOCATION] [VID PID [S/N]]"),
    TEXT("--wait-gone SECONDS [--all-ports] [--at LOCATION] [VID PID [S/N]]"),
    TEXT("--watch [--json] [--all-ports] [--at LOCATION] [VID PID [S/N]]"),
    TEXT("--version"),
};

const option_word* find_option(wview word) {
    for (const option_word& option : option_words)
        if (word == option.word) return &option;
    return nullptr;
}

void print_synopsis(const WCHAR* program) {
    for (const WCHAR* line : synopsis) print_err(TEXT("%s %s\n"), program, line);
}

// The synopsis and a line for each option, status 1, as the help switch
// ends a run.
[[noreturn]] void help(const WCHAR* program) {
    print_synopsis(program);
    print_err(TEXT("\n"));
    for (const option_word& option : option_words) {
        wtext name(option.word);
        if (option.value) name.append(1, u' ').append(option.value);
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

wtext quoted(wview word) { return joined({TEXT("'"), word, TEXT("'")}); }

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
    const wview word(option.word);
    if (word == TEXT("--at")) {
        const std::size_t length = wview(value).size();
        if (length == 0 || length > 200)
            refuse(program, joined({TEXT("--at takes a location of 1 to 200 characters: "), quoted(value)}));
        options.at = value;
        return;
    }
    if (!parse_seconds(value, options.wait_ms))
        refuse(program,
               joined({word, TEXT(" takes seconds from 0 to 86400 with at most three decimals: "), quoted(value)}));
    options.wait_text = value;
    options.gone = word == TEXT("--wait-gone");
}

// What may stand after the options: nothing, VID PID or VID PID S/N, each
// of the lengths the lookup takes.
void check_filters(const WCHAR* program, const WCHAR* const* words, int count, const run_options& options) {
    for (int i = 0; i < count; ++i) {
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
// checks what follows them; returns the index of the first word after them.
int read_options(int argc, const WCHAR* const* argv, run_options& options) {
    const WCHAR* program = argv[0];
    wtext given;  // the options read so far, each between blanks
    int next = 1;
    for (; next < argc && argv[next][0] == u'-'; ++next) {
        const wview word(argv[next]);
        if (is_help_switch(word.data())) help(program);
        const option_word* option = find_option(word);
        if (!option) {
            const std::size_t equals = word.find(u'=');
            const option_word* meant = equals == wview::npos ? nullptr : find_option(word.substr(0, equals));
            refuse(program, meant ? joined({TEXT("unknown option "), quoted(word), TEXT(": write "),
                                            word.substr(0, equals), TEXT(" "), word.substr(equals + 1)})
                                  : joined({TEXT("unknown option "), quoted(word)}));
        }
        const wtext marked = joined({TEXT(" "), word, TEXT(" ")});
        if (given.find(marked) != wtext::npos) refuse(program, joined({word, TEXT(" is given twice")}));
        given += marked;
        if (option->value) {
            if (next + 1 >= argc) refuse(program, joined({word, TEXT(" needs its "), option->value}));
            take_value(program, *option, argv[++next], options);
        } else if (word == TEXT("--json")) {
            options.json = true;
        } else if (word == TEXT("--all-ports")) {
            options.all_ports = true;
        } else if (word == TEXT("--watch")) {
            options.watch = true;
        } else {
            options.version = true;
        }
    }
    // Options that ask for opposite things.
    constexpr const WCHAR* clashes[][2] = {{TEXT("--wait"), TEXT("--watch")},
                                          {TEXT("--wait"), TEXT("--wait-gone")},
                                          {TEXT("--wait-gone"), TEXT("--watch")},
                                          {TEXT("--wait-gone"), TEXT("--json")}};
    for (const auto& [one, other] : clashes)
        if (given.find(joined({TEXT(" "), one, TEXT(" ")})) != wtext::npos &&
            given.find(joined({TEXT(" "), other, TEXT(" ")})) != wtext::npos)
            refuse(program, joined({one, TEXT(" and "), other, TEXT(" cannot be combined")}));
    if (options.version && (given != TEXT(" --version ") || next < argc))
        refuse(program, TEXT("--version stands alone"));
    check_filters(program, argv + next, argc - next, options);
    return next;
}

}  // namespace

bool read_command_line(int argc, const WCHAR* const* argv, run_options& options, scan_ctx& ctx) {
    if (argc < 2 || !find_option(argv[1])) return false;
    options.interface = any_interface;
    const int first = read_options(argc, argv, options);
    if (options.version) return true;
    // What follows is read as a whole command line, under the program's name.
    std::vector<const WCHAR*> rest{argv[0]};
    rest.insert(rest.end(), argv + first, argv + argc);
    rest.push_back(nullptr);
    // By device, the PID may name one function: the filter is then its
    // model's four characters, and the function is kept apart.
    if (options.all_ports && rest.size() >= 4) {
        options.interface = function_pid(rest[2]);
        if (options.interface != any_interface) {
            options.model_pid = wview(rest[2]).substr(0, 4);
            rest[2] = options.model_pid.c_str();
        }
    }
    parse_args(static_cast<int>(rest.size()) - 1, rest.data(), ctx);
    ctx.at = options.at;
    return true;
}
