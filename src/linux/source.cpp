#include "linux/source.h"

#include "linux/regexport.h"
#include "linux/sysfs.h"
#include "report/report.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

[[noreturn]] void refuse_export(const char* path, const std::string& what) {
    const wtext message = from_utf8("portsift: registry export " + std::string(path) + what + "\n");
    print_err(TEXT("%s"), message.c_str());
    end_process(2);
}

// Far above any real export, and a bound for a file that never ends
// (/dev/zero, say).
constexpr std::size_t max_export_size = std::size_t{1} << 30;

std::string read_file(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) refuse_export(path, ": cannot be read: " + std::string(std::strerror(errno)));
    std::string bytes;
    char chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.append(chunk, got);
        if (bytes.size() > max_export_size) refuse_export(path, ": is larger than 1 GiB");
    }
    const int error = std::ferror(file) ? errno : 0;
    std::fclose(file);
    if (error) refuse_export(path, ": cannot be read: " + std::string(std::strerror(error)));
    return bytes;
}

void load_export(const char* path, reg_key& hklm) {
    const std::string bytes = read_file(path);
    if (const auto error = read_export(bytes, hklm))
        refuse_export(path, ", line " + std::to_string(error->line) + ": " + error->what);
}

}  // namespace

const char* registry_export() {
    const char* path = std::getenv("PORTSIFT_REGISTRY");
    return path && *path ? path : nullptr;
}

std::unique_ptr<reg_key> load_registry() {
    auto tree = std::make_unique<reg_key>();
    if (const char* path = registry_export()) {
        load_export(path, *tree);
    } else {
        const char* sysfs = std::getenv("PORTSIFT_SYSFS");
        build_sysfs_view(sysfs && *sysfs ? sysfs : "/sys", *tree);
    }
    return tree;
}
