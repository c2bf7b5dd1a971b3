#include "report/report.h"
#include "report/tags.h"

#include <cstdarg>

namespace {

held_run* holding = nullptr;

wtext format_text(const WCHAR* format, std::va_list args) {
    static const WCHAR null_text[] = TEXT("(null)");
    wtext out;
    out.reserve(80);
    for (const WCHAR* p = format; *p; ++p) {
        if (*p != u'%') {
            out += *p;
        } else if (p[1] == u's') {
            const WCHAR* s = va_arg(args, const WCHAR*);
            out += s ? s : null_text;
            ++p;
        } else if (p[1] == u'l' && p[2] == u'd') {
            const std::string digits = std::to_string(va_arg(args, long));
            out.append(digits.begin(), digits.end());
            p += 2;
        } else if (p[1] == u'%') {
            out += u'%';
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

void print_to(out_stream stream, const WCHAR* format, std::va_list args) {
    wtext text = format_text(format, args);
    if (holding) {
        holding->writes.push_back({stream, holding->ports, std::move(text)});
        return;
    }
    put_text(stream, text.data(), text.size());
}

[[noreturn]] void output_failed(out_stream stream) {
    const DWORD code = GetLastError();
    if (stream == out_stream::standard_output) {
        // The reader has gone: Windows says so in one of three ways.
        if (code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA || code == ERROR_PIPE_NOT_CONNECTED)
            exit_reader_gone();
        // Standard error may still take the report; if it cannot, the
        // status alone tells.
        report_error(tag::write_output);
    }
    exit_process(2);
}

}  // namespace

void put_text(out_stream stream, const WCHAR* text, std::size_t count) {
    if (!write_text(stream, text, count)) output_failed(stream);
}

void print_err(const WCHAR* format, ...) {
    std::va_list args;
    va_start(args, format);
    print_to(out_stream::standard_error, format, args);
    va_end(args);
}

void print_out(const WCHAR* format, ...) {
    std::va_list args;
    va_start(args, format);
    print_to(out_stream::standard_output, format, args);
    va_end(args);
}

int report_error(const WCHAR* tag) {
    // Read first: the formatting calls below may change it.
    const DWORD code = GetLastError();
    const long shown = static_cast<LONG>(code);
    WCHAR* message = nullptr;
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER;
    if (FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<WCHAR*>(&message), 0, nullptr) == 0) {
        print_err(TEXT("%s: %ld: %s\n"), tag, shown, TEXT("formatting error"));
        return 1;
    }
    print_err(TEXT("%s: %ld: %s\n"), tag, shown, message);
    LocalFree(message);
    return 0;
}

void fail(const WCHAR* tag) {
    report_error(tag);
    end_process(2);
}

void fail_status(const WCHAR* tag, LONG status) {
    SetLastError(static_cast<DWORD>(status));
    fail(tag);
}

void flush_out() {
    if (!flush_output()) output_failed(out_stream::standard_output);
}

void end_process(int status) {
    if (holding) throw run_end{status};
    flush_out();
    exit_process(status);
}

void hold_output(held_run* held) { holding = held; }

void note_port_kept() {
    if (holding) ++holding->ports;
}
