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
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

// A refusal of the source: the reason is thrown to the one place that
// reports it, open_registry_source.
struct refused {
    std::string why;
};

[[noreturn]] void refuse_source(const std::string& what) { throw refused{what}; }

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

// A recorded Mac's IO registry, listed as that Mac lists its ports: read
// into an image of its entries, which the IOKit calls serve while the
// reader makes its record of them.
std::unique_ptr<reg_image> ioreg_image(const char* path, const source_needs& needs, source_outcome& outcome) {
    const std::string dump = "ioreg dump " + std::string(path);
    for (const char* other : {"PORTSIFT_REGISTRY", "PORTSIFT_SYSFS"})
        if (const char* named = std::getenv(other); named && *named) {
            outcome.refusal = dump + ": " + other + " names a source too: name one";
            return nullptr;
        }
    std::string why;
    std::unique_ptr<io_image> registry = read_ioreg_file(path, why);
    if (!registry) {
        outcome.refusal = dump + ": " + why;
        return nullptr;
    }
    serve_io_image(std::move(registry));
    auto image = shape_registry(io_registry_devices(needs).devices, needs);
    serve_io_image(std::make_unique<io_image>());
    return image;
}

}  // namespace

const char* registry_export() {
    const char* path = std::getenv("PORTSIFT_REGISTRY");
    return path && *path ? path : nullptr;
}

const char* ioreg_dump() {
    const char* path = std::getenv("PORTSIFT_IOREG");
    return path && *path ? path : nullptr;
}

const char* recorded_file() { return ioreg_dump() ? ioreg_dump() : registry_export(); }

source_outcome open_registry_source(const source_needs& needs) {
    source_outcome outcome;
    std::unique_ptr<reg_image> image;
    if (const char* path = ioreg_dump()) {
        image = ioreg_image(path, needs, outcome);
    } else if (const char* path = registry_export()) {
        image = read_export_file(path, huge_page_memory(), outcome.refusal);
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
