// An export file read into a registry image, a piece at a time as it
// comes: a regular file or a stream (a pipe, a device).
#include "export/regexport.h"
#include "registry/schema.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace {

// A refusal of the export: the reason is thrown to read_export_file, which
// hands it back.
struct refused {
    std::string why;
};

[[noreturn]] void refuse_export(const char* path, const std::string& what) {
    throw refused{"registry export " + std::string(path) + what};
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

std::unique_ptr<reg_image> read_export_file(const char* path, const image_memory& memory, std::string& refusal) {
    auto image = std::make_unique<reg_image>(memory);
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
    } catch (const refused& refused) {
        refusal = refused.why;
        return nullptr;
    }
    return image;
}
