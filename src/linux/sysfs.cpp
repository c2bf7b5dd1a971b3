// The USB devices the Linux kernel lists now under a sysfs tree, and their
// ttys: read into the record the shaper turns into the registry view.
#include "linux/source.h"
#include "linux/udev.h"
#include "text/text.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Where a device was found, beside its record: its ports' interface folders.
struct found_device {
    usb_device record;
    std::vector<std::string> folders = {};  // each port's interface folder, DEVICE:CONFIG.INTERFACE
};

using device_list = std::vector<found_device>;

// A tty's device node, and the tty's name from it.
constexpr std::string_view dev_folder = "/dev/";
std::string tty_name(const usb_port& port) { return port.path.substr(dev_folder.size()); }

// A number of at most 8 digits in `base`, not above `max`; none otherwise.
std::optional<unsigned> parse_number(std::string_view text, unsigned base, unsigned max) {
    if (text.empty() || text.size() > 8) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        const int digit = hex_digit(static_cast<unsigned char>(c));
        if (digit < 0 || static_cast<unsigned>(digit) >= base) return std::nullopt;
        value = value * base + static_cast<unsigned>(digit);
    }
    return value <= max ? std::optional<unsigned>(value) : std::nullopt;
}

// One attribute file at `path` (relative to the directory `dir`), without
// its line end; none when it is missing or unreadable. Opened without
// blocking and read up to a bound, so that a FIFO or an endless file in a
// copied tree cannot stall us.
// The text lives in `buffer`.
std::optional<std::string_view> read_attr(int dir, const char* path, std::span<char> buffer) {
    const int fd = ::openat(dir, path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    ::close(fd);
    if (got < 0) return std::nullopt;
    std::string_view text(buffer.data(), static_cast<std::size_t>(got));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.remove_suffix(1);
    return text;
}

std::optional<std::string> read_attr(int dir, const std::string& path) {
    char buffer[4096];
    const auto text = read_attr(dir, path.c_str(), buffer);
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

// DIR/FILE in `out`, for a device's attribute; a name too long to be a
// file's comes out empty, and is then not found.
const char* attr_path(std::span<char> out, std::string_view dir, std::string_view file) {
    if (dir.size() + file.size() + 2 > out.size()) return "";
    char* end = std::copy(dir.begin(), dir.end(), out.data());
    *end++ = '/';
    *std::copy(file.begin(), file.end(), end) = '\0';
    return out.data();
}

std::optional<unsigned> number_attr(int dir, const std::string& path, unsigned base, unsigned max) {
    const auto text = read_attr(dir, path);
    return text ? parse_number(*text, base, max) : std::nullopt;
}

// The target of a symbolic link, in `buffer`; none when it is not one.
std::optional<std::string_view> link_target(int dir, const char* path, std::span<char> buffer) {
    const ssize_t got = ::readlinkat(dir, path, buffer.data(), buffer.size());
    if (got <= 0 || static_cast<std::size_t>(got) >= buffer.size()) return std::nullopt;
    return std::string_view(buffer.data(), static_cast<std::size_t>(got));
}

std::optional<std::string> link_target(int dir, const std::string& path) {
    char buffer[4096];
    const auto target = link_target(dir, path.c_str(), buffer);
    return target ? std::optional<std::string>(*target) : std::nullopt;
}

std::string last_component(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// The IDs and class from a device's uevent, in the kernel's form:
// PRODUCT=vid/pid/bcd in hex, TYPE=class/subclass/protocol in decimal.
bool parse_uevent(std::string_view text, unsigned& vid, unsigned& pid, std::optional<unsigned>& device_class,
                  std::optional<unsigned>& release) {
    std::optional<unsigned> v, p;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.starts_with("PRODUCT=")) {
            const std::string_view ids = line.substr(8);
            const std::size_t slash = ids.find('/');
            if (slash == std::string_view::npos) return false;
            v = parse_number(ids.substr(0, slash), 16, 0xFFFF);
            const std::string_view rest = ids.substr(slash + 1);
            const std::size_t second = rest.find('/');
            p = parse_number(rest.substr(0, second), 16, 0xFFFF);
            if (second != std::string_view::npos) release = parse_number(rest.substr(second + 1), 16, 0xFFFF);
        } else if (line.starts_with("TYPE=")) {
            const std::string_view type = line.substr(5);
            device_class = parse_number(type.substr(0, type.find('/')), 10, 0xFF);
        }
    }
    if (!v || !p) return false;
    vid = *v;
    pid = *p;
    return true;
}

// One attached device, read through its link in bus/usb/devices (which the
// kernel follows in the same call): its uevent, or in a copied tree without
// one, its ID files; and its serial number. False when it is half gone or
// not a device.
bool read_device(int devices, std::string_view name, const source_needs& needs, usb_device& device) {
    char path[320], buffer[4096];
    const auto uevent = read_attr(devices, attr_path(path, name, "uevent"), buffer);
    if (!uevent || !parse_uevent(*uevent, device.vid, device.pid, device.device_class, device.release)) {
        const std::string dir(name);
        const auto v = number_attr(devices, dir + "/idVendor", 16, 0xFFFF);
        const auto p = number_attr(devices, dir + "/idProduct", 16, 0xFFFF);
        if (!v || !p) return false;
        device.vid = *v, device.pid = *p;
        device.device_class.reset();
        device.release = needs.descriptions ? number_attr(devices, dir + "/bcdDevice", 16, 0xFFFF) : std::nullopt;
    }
    device.serial = read_attr(devices, attr_path(path, name, "serial"), buffer).value_or("");
    if (needs.descriptions) {
        const std::string dir(name);
        device.product = read_attr(devices, dir + "/product");
        device.manufacturer = read_attr(devices, dir + "/manufacturer");
    }
    device.place = name;
    return true;
}

// Calls `each` with the name of every entry of `dir` but . and ..; the
// directory descriptor is closed after.
template <typename Each>
void for_each_entry(int dir, Each each) {
    DIR* stream = ::fdopendir(dir);
    if (!stream) {
        ::close(dir);
        return;
    }
    while (const dirent* entry = ::readdir(stream)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") each(name);
    }
    ::closedir(stream);
}

// The attached USB devices.
device_list usb_devices(int root, const source_needs& needs) {
    device_list devices;
    const int dir = ::openat(root, "bus/usb/devices", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return devices;
    usb_device device;
    for_each_entry(dir, [&](std::string_view name) {
        if (name.find(':') != std::string_view::npos) return;  // an interface
        if (read_device(dir, name, needs, device)) devices.push_back({.record = std::exchange(device, usb_device{})});
    });
    return devices;
}

// Where a path leads, all links followed: asked of the kernel through an
// O_PATH descriptor in one step, or resolved a step at a time without /proc.
std::optional<std::string> real_path(const std::string& path) {
    const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    const auto resolved = link_target(AT_FDCWD, "/proc/self/fd/" + std::to_string(fd));
    ::close(fd);
    if (resolved && resolved->front() == '/') return resolved;
    std::error_code error;
    const fs::path canonical = fs::canonical(path, error);
    return error ? std::nullopt : std::optional<std::string>(canonical.string());
}

struct tty_place {
    std::string device;  // the USB device's sysfs name
    unsigned interface;
    std::string folder;  // the interface's sysfs name
};

// A USB interface folder's name, DEVICE:CONFIG.INTERFACE with both numbers in
// decimal, as the kernel names it; none for any other name.
std::optional<tty_place> parse_interface_folder(std::string_view name) {
    const std::size_t colon = name.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    const std::string_view numbers = name.substr(colon + 1);
    const std::size_t dot = numbers.find('.');
    if (dot == std::string_view::npos || !parse_number(numbers.substr(0, dot), 10, 0xFF)) return std::nullopt;
    const auto interface = parse_number(numbers.substr(dot + 1), 10, 0xFF);
    if (!interface) return std::nullopt;
    return tty_place{.device = std::string(name.substr(0, colon)), .interface = *interface, .folder = std::string(name)};
}

// The interface of a tty from its class/tty link in the kernel's own form,
// ../../devices/.../DEVICE/DEVICE:C.I/tty/TTY for a cdc_acm tty or
// .../DEVICE/DEVICE:C.I/TTY/tty/TTY for a usb-serial port: no file is read.
std::optional<tty_place> kernel_form(std::string_view target, std::string_view tty) {
    if (!target.starts_with("../../devices/") || std::count(target.begin(), target.end(), '/') < 5) return std::nullopt;
    // Takes the last component off the path.
    const auto pop = [&target] {
        const std::size_t slash = target.rfind('/');
        const std::string_view last = target.substr(slash + 1);
        target.remove_suffix(target.size() - slash);
        return last;
    };
    if (pop() != tty || pop() != "tty") return std::nullopt;
    std::string_view interface = pop();
    if (interface == tty) interface = pop();
    auto place = parse_interface_folder(interface);
    if (!place || pop() != place->device) return std::nullopt;
    return place;
}

// The same found by following the links, for a tree whose links take other
// forms: a cdc_acm tty's device is the interface itself; a usb-serial tty's
// device is a port under it. The interface sits in its USB device's folder.
std::optional<tty_place> followed_form(const std::string& tty_dir) {
    const auto subsystem = link_target(AT_FDCWD, tty_dir + "/device/subsystem");
    if (!subsystem) return std::nullopt;
    const std::string kind = last_component(*subsystem);
    if (kind != "usb" && kind != "usb-serial") return std::nullopt;
    auto interface = real_path(tty_dir + "/device");
    if (!interface) return std::nullopt;
    if (kind == "usb-serial") interface->resize(interface->rfind('/'));
    const auto number = number_attr(AT_FDCWD, *interface + "/bInterfaceNumber", 16, 0xFF);
    if (interface->size() < 2 || !number) return std::nullopt;
    const std::string parent = interface->substr(0, interface->rfind('/'));
    return tty_place{.device = last_component(parent), .interface = *number, .folder = last_component(*interface)};
}

void attach_ttys(int root, const std::string& root_path, device_list& devices) {
    const int dir = ::openat(root, "class/tty", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    std::unordered_map<std::string_view, found_device*> by_name(devices.size());
    for (found_device& device : devices) by_name.emplace(device.record.place, &device);
    for_each_entry(dir, [&](std::string_view tty) {
        const std::string name(tty);
        char buffer[4096];
        const auto target = link_target(dir, name.c_str(), buffer);
        auto place = target ? kernel_form(*target, tty) : std::nullopt;
        if (!place) place = followed_form(root_path + "/class/tty/" + name);
        if (!place) return;
        const auto device = by_name.find(place->device);
        if (device == by_name.end()) return;
        device->second->record.ports.push_back(usb_port{.path = std::string(dev_folder) + name, .interface = place->interface});
        device->second->folders.push_back(std::move(place->folder));
    });
}

// What the naming rules and the run need of each device beyond its IDs:
// the class files of a device with one port (which may be that port), the
// numbers of ports that share an interface, the interfaces' names where
// descriptions are asked, and where ready ports are, which ttys udev has
// not finished with yet (each known by its `dev`, major:minor).
void complete_devices(int root, device_list& devices, const source_needs& needs) {
    const int bus = ::openat(root, "bus/usb/devices", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const auto tty_attr = [&](const usb_port& port, const char* name) {
        return read_attr(root, "class/tty/" + tty_name(port) + "/" + name);
    };
    std::vector<std::pair<std::string, std::string>> ttys;
    for (found_device& found : devices) {
        usb_device& device = found.record;
        const std::string dir = device.place + '/';
        if (device.ports.size() == 1) {
            if (!device.device_class) device.device_class = number_attr(bus, dir + "bDeviceClass", 16, 0xFF);
            if (device.device_class != 0x02u) {
                const std::string count = read_attr(bus, dir + "bNumInterfaces").value_or("");
                const std::size_t digits = count.find_first_not_of(' ');
                if (digits != std::string::npos) device.interfaces = parse_number(count.substr(digits), 10, 0xFF).value_or(0);
            }
        }
        for (std::size_t i = 0; i < device.ports.size(); ++i) {
            usb_port& port = device.ports[i];
            const auto shared = std::count_if(device.ports.begin(), device.ports.end(),
                                              [&](const usb_port& other) { return other.interface == port.interface; });
            if (shared > 1) {
                const auto number = tty_attr(port, "device/port_number");
                port.number = number ? parse_number(*number, 10, 0xFFFFFF) : std::nullopt;
            }
            if (needs.descriptions) {
                char path[320];
                port.interface_name = read_attr(bus, attr_path(path, found.folders[i], "interface"));
            }
            if (needs.ready_ports) ttys.emplace_back(tty_name(port), tty_attr(port, "dev").value_or(""));
        }
    }
    if (bus >= 0) ::close(bus);
    if (!needs.ready_ports) return;
    const std::set<std::string> unready = unready_ttys(ttys);
    for (found_device& found : devices)
        for (usb_port& port : found.record.ports) port.ready = !unready.count(tty_name(port));
}

}  // namespace

std::vector<usb_device> sysfs_devices(const std::string& root_path, const source_needs& needs) {
    // A root we may list but not enter is as unreadable as a missing one.
    if (::access(root_path.c_str(), R_OK | X_OK) != 0) return {};
    const int root = ::open(root_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) return {};
    auto found = usb_devices(root, needs);
    attach_ttys(root, root_path, found);
    complete_devices(root, found, needs);
    ::close(root);
    std::vector<usb_device> devices;
    devices.reserve(found.size());
    for (found_device& device : found) devices.push_back(std::move(device.record));
    return devices;
}
