// Standard streams and process end on Linux and macOS: UTF-8 whatever the locale.
#include "platform/platform.h"
#include "text/text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

// A write's errno as the Windows code the reports carry.
DWORD write_error(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT: return 112;  // ERROR_DISK_FULL
    case EBADF: return ERROR_INVALID_HANDLE;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case EFBIG: return 223;  // ERROR_FILE_TOO_LARGE
    default: return 29;      // ERROR_WRITE_FAULT
    }
}

bool failed() {
    SetLastError(write_error(errno));
    return false;
}

}  // namespace

bool write_text(out_stream stream, const WCHAR* text, std::size_t count) {
    // A short ASCII text, as most lines are, is narrowed in place.
    char narrow[512];
    std::string bytes;
    std::string_view out;
    if (count <= sizeof narrow && std::all_of(text, text + count, [](WCHAR c) { return c < 0x80; })) {
        std::copy(text, text + count, narrow);
        out = std::string_view(narrow, count);
    } else {
        out = bytes = to_utf8(wview(text, count));
    }
    std::FILE* file = stream == out_stream::standard_error ? stderr : stdout;
    if (std::fwrite(out.data(), 1, out.size(), file) != out.size()) return failed();
    if (stream == out_stream::standard_error && std::fflush(stderr) != 0) return failed();
    return true;
}

bool flush_output() { return std::fflush(stdout) == 0 || failed(); }

void exit_process(int status) { std::exit(status); }
