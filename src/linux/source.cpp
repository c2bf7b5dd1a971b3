#include "linux/source.h"

#include "export/regexport.h"
#include "linux/udev.h"
#include "registry/schema.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// A refusal of the source: the reason is thrown to the one place that
// reports it, open_registry_source.
struct refused {
    std::string why;
};

[[noreturn]] void refuse_source(const std::string& what) { throw refused{what}; }

[[noreturn]] void refuse_export(const char* path, const std::string& what) {
    refuse_source("registry export " + std::string(path) + what);
}

// A tree named by PORTSIFT_SYSFS that cannot be read, or has no tty class
// (every Linux system has one: the consoles), is no sysfs tree: refused
// before anything is listed. One without USB devices is a machine without
// a USB controller, which lists nothing.
void check_sysfs_tree(const char* path) {
    const std::string tree = "sysfs tree " + std::string(path);
    if (::access(path, R_OK | X_OK) != 0) refuse_source(tree + ": cannot be read: " + std::strerror(errno));
    struct stat info {};
    const std::string ttys = std::string(path) + "/class/tty";
    if (::stat(ttys.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) refuse_source(tree + ": has no class/tty");
}

// Far above any real export, and a bound for a file that never ends
// (/dev/zero, say).
constexpr std::size_t max_export_size = std::size_t{1} << 30;

// What a stream has shown so far, line by line as its bytes come: where the
// reader would first refuse it is found without holding all of it.
struct stream_check {
    std::size_t line_start = 0;  // where the line now going on starts
    std::size_t scanned = 0;     // searched up to here
    bool header_seen = false;
    bool ansi = false;           // a REGEDIT4 export: its bytes need not be UTF-8
};

// Where the bytes read so far first show a fault the reader refuses a
// stream for: a first line that cannot be a header, a NUL character, or
// (in UTF-8) a line that is not valid UTF-8. Returns the end of the line
// that holds it (the end of the bytes while that line goes on), or npos.
std::size_t fault_end(std::string_view bytes, stream_check& check) {
    bool utf16 = false;
    const std::size_t start = text_start(bytes, utf16);
    const std::size_t unit = utf16 ? 2 : 1;
    const std::size_t whole = bytes.size() - bytes.size() % unit;
    if (check.scanned == 0) check.scanned = check.line_start = start;
    const auto end_of_line = [&](std::size_t from) {
        for (std::size_t i = from; i < whole; i += unit)
            if (bytes[i] == '\n' && (!utf16 || bytes[i + 1] == 0)) return i + unit;
        return whole;
    };
    for (std::size_t i = check.scanned; i < whole; i += unit) {
        check.scanned = i + unit;
        if (bytes[i] == 0 && (!utf16 || bytes[i + 1] == 0)) return end_of_line(i);
        if (bytes[i] != '\n' || (utf16 && bytes[i + 1] != 0)) continue;
        const std::string_view line = bytes.substr(check.line_start, i - check.line_start);
        check.line_start = i + unit;
        bool valid = true;
        if (!utf16 && !check.ansi) from_utf8(line, &valid);
        if (!valid || (!check.header_seen && !could_be_header(line, utf16, true))) return i + unit;
        if (!check.header_seen) check.ansi = ansi_header(line, utf16);
        check.header_seen = true;
    }
    // A first line still coming that can no longer be a header (looked at
    // while it is short: blanks may pad a header without end).
    const std::size_t pending = whole - check.line_start;
    if (!check.header_seen && pending < 4096 && !could_be_header(bytes.substr(check.line_start, pending), utf16, false))
        return whole;
    return std::string_view::npos;
}

void refuse_error(const char* path, const export_error& error) {
    refuse_export(path, ", line " + std::to_string(error.line) + ": " + error.what);
}

// The bytes of a stream (a pipe, a device), refused once the bound has
// come or at the first fault the reader would refuse it for, so that it is
// not held.
std::string read_stream(int fd, const char* path) {
    std::string bytes;
    stream_check check;
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) refuse_export(path, ": cannot be read: " + std::string(std::strerror(errno)));
        if (got == 0) break;
        bytes.append(chunk, static_cast<std::size_t>(got));
        if (bytes.size() > max_export_size) refuse_export(path, ": is larger than 1 GiB");
        const std::size_t end = fault_end(bytes, check);
        if (end == std::string_view::npos) continue;
        // The reader's own verdict on what has come, up to the fault's line;
        // a fault it does not see there (inside a continued list) is its
        // to find at the end.
        reg_image scratch;
        if (const auto error = read_export(std::string_view(bytes).substr(0, end), scratch)) refuse_error(path, *error);
        check.header_seen = true;
    }
    return bytes;
}

// A regular file, read into `image` a piece at a time as it is parsed: the
// export is never held whole.
void read_regular(int fd, const char* path, std::uint64_t size, reg_image& image) {
    if (size > max_export_size) refuse_export(path, ": is larger than 1 GiB");
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    std::string chunk(std::size_t{1} << 20, '\0');
    const auto reading = start_export(image);
    std::uint64_t total = 0;
    for (bool first = true;; first = false) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) refuse_export(path, ": cannot be read: " + std::string(std::strerror(errno)));
        if (got == 0) break;
        total += static_cast<std::uint64_t>(got);
        if (total > max_export_size) refuse_export(path, ": is larger than 1 GiB");
        const std::string_view bytes(chunk.data(), static_cast<std::size_t>(got));
        bool utf16 = false;
        if (first && text_start(bytes, utf16) && utf16 && size % 2 != 0) {
            // Where it ends in the middle of a character is told before any
            // other fault: the whole file is needed to count its lines.
            std::string whole(bytes);
            for (ssize_t more; (more = ::read(fd, chunk.data(), chunk.size())) != 0;) {
                if (more < 0 && errno == EINTR) continue;
                if (more < 0) refuse_export(path, ": cannot be read: " + std::string(std::strerror(errno)));
                whole.append(chunk.data(), static_cast<std::size_t>(more));
            }
            if (const auto error = read_export(whole, image)) refuse_error(path, *error);
            return;
        }
        if (const auto error = read_more(*reading, bytes)) refuse_error(path, *error);
    }
    if (const auto error = finish_export(*reading)) refuse_error(path, *error);
}

}  // namespace

const char* registry_export() {
    const char* path = std::getenv("PORTSIFT_REGISTRY");
    return path && *path ? path : nullptr;
}

std::unique_ptr<reg_image> export_image(const char* path, source_outcome& outcome) {
    auto image = std::make_unique<reg_image>();
    try {
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) refuse_export(path, ": cannot be read: " + std::string(std::strerror(errno)));
        struct stat info {};
        const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
        try {
            if (regular) {
                read_regular(fd, path, static_cast<std::uint64_t>(info.st_size), *image);
            } else if (const auto error = read_export(read_stream(fd, path), *image)) {
                refuse_error(path, *error);
            }
        } catch (...) {
            ::close(fd);
            throw;
        }
        ::close(fd);
    } catch (const refused& refusal) {
        outcome.refusal = refusal.why;
        return nullptr;
    }
    return image;
}

source_outcome open_registry_source(const source_needs& needs) {
    source_outcome outcome;
    std::unique_ptr<reg_image> image;
    if (const char* path = registry_export()) {
        image = export_image(path, outcome);
        if (image && !(image->port_map = find_key(image->hklm, SERIALCOMM_PATH)))
            outcome.note = "registry export " + std::string(path) +
                           ": no port can count as present without its HKEY_LOCAL_MACHINE\\" +
                           to_utf8(SERIALCOMM_PATH) + " key";
    } else {
        const char* named = std::getenv("PORTSIFT_SYSFS");
        const bool own_tree = named && *named;
        try {
            if (own_tree) check_sysfs_tree(named);
            // An export's ports are as ready as it says; a tty may wait for udev.
            if (needs.ready_ports) hold_unready_ttys();
            image = sysfs_image(own_tree ? named : "/sys", needs);
            image->port_map = find_key(image->hklm, SERIALCOMM_PATH);
        } catch (const refused& refusal) {
            outcome.refusal = refusal.why;
        }
    }
    // A source refused serves an empty registry: nothing of an earlier look stays.
    serve_image(image ? std::move(image) : std::make_unique<reg_image>());
    return outcome;
}
