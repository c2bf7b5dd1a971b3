#include "winapi/source.h"

#include "winapi/regexport.h"
#include "winapi/sysfs.h"
#include "report/report.h"

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

// The one line that refuses the registry's source, "portsift: WHAT", and status 2.
[[noreturn]] void refuse_source(const std::string& what) {
    const wtext message = from_utf8("portsift: " + what + "\n");
    print_err(TEXT("%s"), message.c_str());
    end_process(2);
}

[[noreturn]] void refuse_export(const char* path, const std::string& what) {
    refuse_source("registry export " + std::string(path) + what);
}

// A tree named by PORTSIFT_SYSFS that cannot be read, or holds no USB
// devices' folder, is no sysfs tree: refused before anything is listed.
void check_sysfs_tree(const char* path) {
    const std::string tree = "sysfs tree " + std::string(path);
    if (::access(path, R_OK | X_OK) != 0) refuse_source(tree + ": cannot be read: " + std::strerror(errno));
    struct stat info {};
    const std::string devices = std::string(path) + "/bus/usb/devices";
    if (::stat(devices.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) refuse_source(tree + ": has no bus/usb/devices");
}

// Without SERIALCOMM no port of the export counts as present: said once,
// at once, whatever the run does with its output.
void note_missing_serialcomm(const char* path, reg_key& hklm) {
    static bool said = false;
    reg_key* key = &hklm;
    for (const wview name : {wview(u"HARDWARE"), wview(u"DEVICEMAP"), wview(u"SERIALCOMM")})
        key = key ? find_child(*key, name) : nullptr;
    if (key || said) return;
    said = true;
    const wtext message = from_utf8("portsift: registry export " + std::string(path) +
                                    ": no port can count as present without its "
                                    "HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM key\n");
    put_text(out_stream::standard_error, message.data(), message.size());
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
        if (!utf16) from_utf8(line, &valid);
        if (!valid || (!check.header_seen && !could_be_header(line, utf16, true))) return i + unit;
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

// The export's bytes. A regular file over the bound is refused before it is
// read; a stream (a pipe, a device) once the bound has come, or at the
// first fault the reader would refuse it for, so that neither is held.
std::string read_file(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) refuse_export(path, ": cannot be read: " + std::string(std::strerror(errno)));
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (regular && static_cast<std::uint64_t>(info.st_size) > max_export_size)
        refuse_export(path, ": is larger than 1 GiB");
    std::string bytes;
    if (regular) bytes.reserve(static_cast<std::size_t>(info.st_size));
    stream_check check;
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) refuse_export(path, ": cannot be read: " + std::string(std::strerror(errno)));
        if (got == 0) break;
        bytes.append(chunk, static_cast<std::size_t>(got));
        if (bytes.size() > max_export_size) refuse_export(path, ": is larger than 1 GiB");
        if (regular) continue;
        const std::size_t end = fault_end(bytes, check);
        if (end == std::string_view::npos) continue;
        // The reader's own verdict on what has come, up to the fault's line;
        // a fault it does not see there (inside a continued list) is its
        // to find at the end.
        reg_key scratch;
        if (const auto error = read_export(std::string_view(bytes).substr(0, end), scratch)) refuse_error(path, *error);
        check.header_seen = true;
    }
    ::close(fd);
    return bytes;
}

void load_export(const char* path, reg_key& hklm) {
    const std::string bytes = read_file(path);
    if (const auto error = read_export(bytes, hklm)) refuse_error(path, *error);
    note_missing_serialcomm(path, hklm);
}

}  // namespace

const char* registry_export() {
    const char* path = std::getenv("PORTSIFT_REGISTRY");
    return path && *path ? path : nullptr;
}

std::unique_ptr<reg_image> load_registry() {
    if (const char* path = registry_export()) {
        auto tree = std::make_unique<reg_tree>();
        load_export(path, tree->hklm);
        return image_of(std::move(tree));
    }
    const char* sysfs = std::getenv("PORTSIFT_SYSFS");
    if (sysfs && *sysfs) check_sysfs_tree(sysfs);
    return sysfs_image(sysfs && *sysfs ? sysfs : "/sys");
}
