// Standard streams and process end for Windows: the characters themselves on
// a console, UTF-8 to a file or a pipe.
#include "platform/platform.h"
#include "text/text.h"

#include <algorithm>
#include <cstdlib>

namespace {

bool is_console(HANDLE handle) {
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0;
}

// Standard output's bytes not yet written: a listing goes out in few writes.
std::string held;
constexpr std::size_t held_at_most = 65536;

// Writes all of `bytes`; WriteFile sets the last error when it fails.
bool write_all(HANDLE handle, const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
        if (!WriteFile(handle, bytes.data() + done, chunk, &written, nullptr)) return false;
        done += written;
    }
    return true;
}

}  // namespace

bool write_text(out_stream stream, const WCHAR* text, std::size_t count) {
    const bool to_error = stream == out_stream::standard_error;
    const HANDLE handle = GetStdHandle(to_error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    static const bool console[2] = {is_console(GetStdHandle(STD_OUTPUT_HANDLE)),
                                    is_console(GetStdHandle(STD_ERROR_HANDLE))};
    if (console[to_error]) {
        DWORD written = 0;
        return WriteConsoleW(handle, text, static_cast<DWORD>(count), &written, nullptr) != 0;
    }
    if (to_error) return write_all(handle, to_utf8(wview(text, count)));
    held += to_utf8(wview(text, count));
    return held.size() < held_at_most || flush_output();
}

bool flush_output() {
    if (held.empty()) return true;
    const bool written = write_all(GetStdHandle(STD_OUTPUT_HANDLE), held);
    held.clear();
    return written;
}

void exit_process(int status) { std::exit(status); }
