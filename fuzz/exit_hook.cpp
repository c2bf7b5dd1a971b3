#include "fuzz/exit_hook.h"

#include "platform/platform.h"
#include "text/text.h"

namespace {
run_output collected;
}

bool write_text(out_stream stream, const WCHAR* text, std::size_t count) {
    (stream == out_stream::standard_error ? collected.err : collected.out) += to_utf8(wview(text, count));
    return true;
}

bool flush_output() { return true; }

void exit_process(int status) { throw process_end{status}; }

run_output take_output() {
    run_output taken = std::move(collected);
    collected = {};
    return taken;
}

