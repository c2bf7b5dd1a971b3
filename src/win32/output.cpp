// Standard streams and process end for Windows: the characters themselves on
// a console, UTF-8 to a file or a pipe.
#include "registry/platform.h"
#include "report/text.h"

#include <cstdio>
#include <cstdlib>

namespace {

bool is_console(HANDLE handle) {
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

void write_text(out_stream stream, const WCHAR* text, std::size_t count) {
    const bool to_error = stream == out_stream::standard_error;
    static const bool console[2] = {is_console(GetStdHandle(STD_OUTPUT_HANDLE)),
                                    is_console(GetStdHandle(STD_ERROR_HANDLE))};
    std::FILE* file = to_error ? stderr : stdout;
    if (console[to_error]) {
        DWORD written = 0;
        WriteConsoleW(GetStdHandle(to_error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE), text,
                      static_cast<DWORD>(count), &written, nullptr);
        return;
    }
    const std::string bytes = to_utf8(wview(text, count));
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    if (to_error) std::fflush(stderr);
}

void prepare_port_query() {
    // Without this, each GetDefaultCommConfigW loads the provider (and, under
    // Wine, user32 and gdi32 with it) and frees it again: most of a query's
    // cost. Loading it from System32 alone keeps a DLL of the same name in
    // the program's folder or the current one from being picked up.
    static bool tried = false;
    if (tried) return;
    tried = true;
    const DWORD saved = GetLastError();
    LoadLibraryExW(L"serialui.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetLastError(saved);
}

// The registry holds each device's description, maker and location anyway.
void describe_devices() {}

void exit_process(int status) { std::exit(status); }
