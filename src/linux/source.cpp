#include "linux/source.h"

#include "export/regexport.h"
#include "ioreg/ioreg.h"
#include "ioservice/ioservice.h"
#include "linux/memory.h"
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
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

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

// The values portsift reads; an export's others are not kept.
constexpr value_choice read_values{.value_names = READ_VALUE_NAMES, .every_value_path = SERIALCOMM_PATH};

[[noreturn]] void refuse_error(const char* path, const export_error& error) {
    refuse_export(path, ", line " + std::to_string(error.line) + ": " + error.what);
}

// The next bytes of `fd` into `chunk`: how many, 0 at its end.
std::size_t read_chunk(int fd, const char* path, std::span<char> chunk) {
    for (;;) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) refuse_export(path, ": cannot be read: " + std::string(std::strerror(errno)));
    }
}

// A UTF-16 file of odd size ends in the middle of a character, which is
// told before any other fault: its line ends are counted as it is read.
[[noreturn]] void refuse_odd_utf16(int fd, const char* path, std::string_view first, std::span<char> chunk) {
    std::size_t lines = utf16_lines(first), total = first.size();
    // A line feed is "\n\0" at an even place; `last` is the byte before each piece.
    char last = first.size() % 2 ? first.back() : '\1';
    for (std::size_t got; (got = read_chunk(fd, path, chunk)) != 0;) {
        if ((total += got) > max_export_size) refuse_export(path, ": is larger than 1 GiB");
        std::size_t i = 0;
        if (last != '\1') lines += last == '\n' && chunk[0] == 0, i = 1;
        for (; i + 1 < got; i += 2) lines += chunk[i] == '\n' && chunk[i + 1] == 0;
        last = i < got ? chunk[i] : '\1';
    }
    refuse_error(path, {.line = lines, .what = "the file ends in the middle of a UTF-16 character"});
}

// Reads the export at `fd` into `image` a piece at a time as it is parsed:
// it is never held whole. A regular file of `size` bytes is refused on its
// size before it is read; a stream (a pipe, a device) once 1 GiB has come,
// or at its first fault.
void read_into(int fd, const char* path, std::optional<std::uint64_t> size, reg_image& image) {
    if (size && *size > max_export_size) refuse_export(path, ": is larger than 1 GiB");
    if (size) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    // Not filled beforehand: a small export touches only the pages it is read into.
    constexpr std::size_t chunk_size = std::size_t{1} << 20;
    const auto buffer = std::make_unique_for_overwrite<char[]>(chunk_size);
    const std::span<char> chunk(buffer.get(), chunk_size);
    const auto reading = start_export(image, &read_values, size ? export_arrival::file : export_arrival::stream);
    std::uint64_t total = 0;
    for (std::size_t got; (got = read_chunk(fd, path, chunk)) != 0;) {
        if ((total += got) > max_export_size) refuse_export(path, ": is larger than 1 GiB");
        const std::string_view bytes(chunk.data(), got);
        bool utf16 = false;
        if (total == got && size && *size % 2 != 0 && text_start(bytes, utf16) && utf16)
            refuse_odd_utf16(fd, path, bytes, chunk);
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
    auto image = std::make_unique<reg_image>(huge_page_memory());
    try {
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) refuse_export(path, ": cannot be read: " + std::string(std::strerror(errno)));
        struct stat info {};
        const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
        try {
            read_into(fd, path, regular ? std::optional<std::uint64_t>(info.st_size) : std::nullopt, *image);
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

const char* ioreg_dump() {
    const char* path = std::getenv("PORTSIFT_IOREG");
    return path && *path ? path : nullptr;
}

const char* recorded_file() { return ioreg_dump() ? ioreg_dump() : registry_export(); }

std::unique_ptr<reg_image> ioreg_image(const char* path, const source_needs& needs, source_outcome& outcome) {
    const std::string dump = "ioreg dump " + std::string(path);
    for (const char* other : {"PORTSIFT_REGISTRY", "PORTSIFT_SYSFS"})
        if (const char* named = std::getenv(other); named && *named) {
            outcome.refusal = dump + ": " + other + " names a source too: name one";
            return nullptr;
        }
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    std::string bytes, why;
    if (fd < 0) {
        why = "cannot be read: " + std::string(std::strerror(errno));
    } else {
        // Read to its end, or one byte past the most a dump may hold.
        char chunk[65536];
        ssize_t got;
        while (bytes.size() <= max_ioreg_size && ((got = ::read(fd, chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR)))
            if (got > 0) bytes.append(chunk, static_cast<std::size_t>(got));
        if (got < 0) why = "cannot be read: " + std::string(std::strerror(errno));
        ::close(fd);
    }
    std::unique_ptr<io_image> registry = why.empty() ? read_ioreg(bytes, why) : nullptr;
    if (!registry) {
        outcome.refusal = dump + ": " + why;
        return nullptr;
    }
    serve_io_image(std::move(registry));
    auto image = shape_registry(io_registry_devices(needs).devices, needs);
    serve_io_image(std::make_unique<io_image>());
    return image;
}

source_outcome open_registry_source(const source_needs& needs) {
    source_outcome outcome;
    std::unique_ptr<reg_image> image;
    if (const char* path = ioreg_dump()) {
        image = ioreg_image(path, needs, outcome);
    } else if (const char* path = registry_export()) {
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
            image = shape_registry(sysfs_devices(own_tree ? named : "/sys", needs), needs);
        } catch (const refused& refusal) {
            outcome.refusal = refusal.why;
        }
    }
    // A source refused serves an empty registry: nothing of an earlier look stays.
    serve_image(image ? std::move(image) : std::make_unique<reg_image>());
    return outcome;
}
