// Messages on standard error, listing lines on standard output, and the
// failure reports that end a run with status 2.
#pragma once

#include "platform/platform.h"
#include "text/text.h"

#include <vector>

// Wide formatted output: "%s" takes a wide string (null prints "(null)"),
// "%ld" a long, "%%" a percent sign. Standard error is flushed at once.
void print_err(const WCHAR* format, ...);
void print_out(const WCHAR* format, ...);

// Writes "tag: code: system text\n" for the thread's last-error code, or
// "formatting error" in place of the text when the system has none.
// Returns 0 when the system text was used, 1 for the fallback.
int report_error(const WCHAR* tag);

// Reports the thread's last error under `tag` and ends the run with status 2.
[[noreturn]] void fail(const WCHAR* tag);

// Reports `status`, the code a registry call returned, under `tag` and ends
// the run with status 2. Registry calls return their status rather than
// setting the last error, so it is set here for the report to carry.
[[noreturn]] void fail_status(const WCHAR* tag, LONG status);

// Ends the run with `status`: the process ends, standard output flushed;
// inside a held run (below), the run does, by throwing `run_end`. Output
// that cannot be flushed ends it as put_text says.
[[noreturn]] void end_process(int status);

// Writes text to the stream. When it cannot be written, the run ends: with
// a failure report and status 2 (the report only where standard error can
// still be written), or, when the reader of standard output has gone, as
// programs end then (exit_reader_gone).
void put_text(out_stream stream, const WCHAR* text, std::size_t count);

// Writes what standard output holds now; when it cannot, the run ends as
// put_text says.
void flush_out();

// What a held run wrote, in order: each write with the number of ports
// the run had kept (note_port_kept) before it, so that the ports' lines
// can be put back among them.
struct held_write {
    out_stream stream;
    std::size_t after_ports;
    wtext text;
};
struct held_run {
    std::vector<held_write> writes;
    std::size_t ports = 0;  // ports kept so far
};

struct run_end {
    int status;
};

// While `held` is set, print_err and print_out add their text to it in place
// of writing it, and end_process throws run_end in place of ending the
// process; null ends the hold. For the options that try the walk more than
// once or print its outcome in another form.
void hold_output(held_run* held);

// Tells a held run that a port was kept rather than printed.
void note_port_kept();
