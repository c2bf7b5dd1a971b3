// Standard streams and process end for Linux: UTF-8 whatever the locale.
#include "registry/platform.h"
#include "report/text.h"

#include <cstdio>
#include <cstdlib>

void write_text(out_stream stream, const WCHAR* text, std::size_t count) {
    const std::string bytes = to_utf8(wview(text, count));
    std::FILE* file = stream == out_stream::standard_error ? stderr : stdout;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    if (stream == out_stream::standard_error) std::fflush(stderr);
}

// The stand-in's port queries need nothing loaded.
void prepare_port_query() {}

void exit_process(int status) { std::exit(status); }
