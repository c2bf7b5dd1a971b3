// The registry view of the USB devices the Linux kernel lists now: the
// nodes Windows would record for them under Enum\USB, and SERIALCOMM for
// their ports.
#include "linux/source.h"
#include "linux/udev.h"
#include "registry/schema.h"
#include "registry/usb_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct tty_port {
    unsigned interface;  // bInterfaceNumber
    std::string tty;
    std::string folder;  // its interface's sysfs name, DEVICE:CONFIG.INTERFACE
};

struct usb_device {
    std::string sys_name;  // e.g. 1-1.2
    unsigned vid = 0, pid = 0;
    std::optional<unsigned> device_class;  // from uevent; none until read
    std::optional<unsigned> release;       // bcdDevice, from uevent; none until read
    std::string serial;
    std::vector<tty_port> ports;
    bool by_serial = false;  // whether its instance is named after its serial
    // Read only when asked.
    struct texts {
        std::optional<std::string> product, manufacturer;
    };
    std::unique_ptr<texts> described;
};

// The attached devices, in the order they were listed.
using device_list = std::vector<usb_device>;

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

// Windows names an instance after the serial number only when it is usable
// as one: printable ASCII without blanks or commas, and a valid key name.
bool usable_serial(const std::string& serial) {
    if (serial.empty() || serial.size() > max_key_name) return false;
    for (char c : serial)
        if (c <= 0x20 || c > 0x7E || c == ',' || c == '\\') return false;
    return true;
}

// Windows gives a device one function when it has one interface or is of
// the communications class (02); otherwise one per interface (MI_nn).
bool single_function(int devices, const usb_device& device) {
    const std::string dir = device.sys_name + '/';
    const auto device_class =
        device.device_class ? device.device_class : number_attr(devices, dir + "bDeviceClass", 16, 0xFF);
    if (device_class == 0x02u) return true;
    const std::string count = read_attr(devices, dir + "bNumInterfaces").value_or("");
    const std::size_t digits = count.find_first_not_of(' ');
    return digits != std::string::npos && count.substr(digits) == "1";
}

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
        device.described = std::make_unique<usb_device::texts>(
            usb_device::texts{.product = read_attr(devices, dir + "/product"),
                              .manufacturer = read_attr(devices, dir + "/manufacturer")});
    }
    device.sys_name = name;
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
        if (read_device(dir, name, needs, device)) devices.push_back(std::exchange(device, usb_device{}));
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
    std::unordered_map<std::string_view, usb_device*> by_name(devices.size());
    for (usb_device& device : devices) by_name.emplace(device.sys_name, &device);
    for_each_entry(dir, [&](std::string_view tty) {
        const std::string name(tty);
        char buffer[4096];
        const auto target = link_target(dir, name.c_str(), buffer);
        auto place = target ? kernel_form(*target, tty) : std::nullopt;
        if (!place) place = followed_form(root_path + "/class/tty/" + name);
        if (!place) return;
        const auto device = by_name.find(place->device);
        if (device != by_name.end()) device->second->ports.push_back(
            tty_port{.interface = place->interface, .tty = name, .folder = std::move(place->folder)});
    });
}

// The ports of one interface, in the order of their numbers on it: a
// usb-serial port's port_number, or the order of the tty names where a port
// has none.
std::vector<std::pair<unsigned, std::string>> numbered_ports(int root, std::vector<std::string> names) {
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    std::vector<std::pair<unsigned, std::string>> ports;
    bool all_numbered = true;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto number = number_attr(root, "class/tty/" + names[i] + "/device/port_number", 10, 0xFFFFFF);
        all_numbered = all_numbered && number;
        ports.emplace_back(number.value_or(0), std::move(names[i]));
    }
    for (std::size_t i = 0; i < ports.size() && !all_numbered; ++i) ports[i].first = static_cast<unsigned>(i);
    return ports;
}

// The USB ttys udev has not finished with yet, when the run hands over
// ready ports alone: each is known by its `dev`, major:minor.
std::set<std::string> unready_ports(int root, const device_list& devices, const source_needs& needs) {
    if (!needs.ready_ports) return {};
    std::vector<std::pair<std::string, std::string>> ttys;
    for (const usb_device& device : devices)
        for (const tty_port& port : device.ports)
            ttys.emplace_back(port.tty, read_attr(root, "class/tty/" + port.tty + "/dev").value_or(""));
    return unready_ttys(ttys);
}

// Names each device's instance after its serial number where that is
// usable and no other attached device of the same VID and PID has it as
// its serial or as its sysfs name (as the registry compares names: without
// regard to case); the others go by their sysfs names, so that every
// instance name stays unique.
void name_instances(device_list& devices) {
    struct name_of {
        std::uint64_t hash;
        usb_device* device;
        const std::string* name;
        bool serial;  // the name is its serial number, not its sysfs name
    };
    const auto upper = [](char c) { return registry_fold(static_cast<unsigned char>(c)); };
    const auto hash_of = [&](const usb_device& device, const std::string& name) {
        std::uint64_t hash = (std::uint64_t{device.vid} << 16 | device.pid) * 1099511628211u;
        for (const char c : name) hash = (hash ^ upper(c)) * 1099511628211u;
        return hash;
    };
    const auto same = [&](const name_of& a, const name_of& b) {
        return a.device->vid == b.device->vid && a.device->pid == b.device->pid &&
               std::equal(a.name->begin(), a.name->end(), b.name->begin(), b.name->end(),
                          [&](char x, char y) { return upper(x) == upper(y); });
    };
    // A sysfs name is usbN, or N-N.N... : only a serial number of that form
    // can be one, and most have none.
    const auto sys_name_like = [](const std::string& serial) {
        const std::string_view digits = serial.size() > 3 && ascii_starts_nocase(from_utf8(serial), u"usb")
                                            ? std::string_view(serial).substr(3)
                                            : std::string_view(serial);
        return digits.find_first_not_of("0123456789-.") == std::string_view::npos;
    };
    bool sys_names = false;
    // Names by a hash of what they name; only those of one hash compare.
    std::vector<name_of> names;
    for (usb_device& device : devices) {
        if (!usable_serial(device.serial)) continue;
        names.push_back({hash_of(device, device.serial), &device, &device.serial, true});
        sys_names = sys_names || sys_name_like(device.serial);
    }
    for (usb_device& device : devices)
        if (sys_names) names.push_back({hash_of(device, device.sys_name), &device, &device.sys_name, false});
    std::sort(names.begin(), names.end(), [](const name_of& a, const name_of& b) { return a.hash < b.hash; });
    for (std::size_t start = 0, end = 0; start < names.size(); start = end) {
        while (end < names.size() && names[end].hash == names[start].hash) ++end;
        for (std::size_t i = start; i < end; ++i) {
            if (!names[i].serial) continue;
            bool unique = true;
            for (std::size_t j = start; j < end && unique; ++j)
                unique = names[i].device == names[j].device || !same(names[i], names[j]);
            names[i].device->by_serial = unique;
        }
    }
}

// One instance node of the view. Nodes are made device by device in the
// order of their sysfs names: where two end up with one name (as the
// registry compares names), they are one key, its name the first's and its
// values the later's where both have one.
struct view_node {
    unsigned vid, pid;
    int interface;  // the function's; -1 for the device's own key
    wview instance;  // in the image
    const usb_device* device;
    unsigned made;  // its place among its device's nodes
    const char16_t* guid;  // its class
    bool composite;  // a composite device's own node
    std::string_view tty;  // its port; empty for none
    wview port;  // its port's name, /dev/TTY, in the image
    wview name = {};  // what its bus reports it as (a device's product, a function's interface), in the image
};

// Whether node `a` was made before node `b`.
bool made_before(const view_node& a, const view_node& b) {
    if (a.device != b.device) return a.device->sys_name < b.device->sys_name;
    return a.made < b.made;
}

// The device's own name for `tty`, which outlives the copies made of it.
std::string_view device_tty(const usb_device& device, std::string_view tty) {
    for (const tty_port& port : device.ports)
        if (port.tty == tty) return port.tty;
    return {};
}

// A node's values: at most seven.
using node_values = std::array<image_value, 8>;

// A node's hardware IDs as Windows writes them, USB\VID_vvvv&PID_pppp&REV_rrrr
// and USB\VID_vvvv&PID_pppp, each with a function's &MI_nn, in a
// multi-string.
// The texts the view's nodes share, each made once in the image: where a
// node's bus-reported description is kept, and each model's hardware IDs.
struct shared_texts {
    wview property;
    std::map<std::tuple<unsigned, unsigned, int, unsigned>, wview> hardware_ids;
};

wview hardware_ids(reg_image& image, shared_texts& texts, const view_node& node, unsigned release) {
    wview& made = texts.hardware_ids[std::tuple(node.vid, node.pid, node.interface, release)];
    if (!made.empty()) return made;
    const wtext model = wtext(USB_ENUMERATOR) + u'\\' + model_key(node.vid, node.pid);
    const wtext function = node.interface >= 0 ? interface_suffix(static_cast<unsigned>(node.interface)) : wtext();
    const wtext ids = model + TEXT("&REV_") + hex_id(release) + function + u'\0' + model + function + u'\0';
    return made = keep_text(image, ids);
}

// The values of `node` in `values`; their count.
std::size_t node_values_of(reg_image& image, const view_node& node, const source_needs& needs, shared_texts& texts,
                           node_values& values) {
    std::size_t count = 0;
    const auto add = [&](wview name, wview text) { values[count++] = {name, REG_SZ, string_data(image, text)}; };
    const usb_device& device = *node.device;
    add(CLASS_GUID_VALUE, node.guid);
    if (needs.descriptions) {
        // As Windows keeps them, and the kernel's serial number (empty for
        // none), which the instance name does not always show.
        if (const auto& product = device.described->product) add(DEVICE_DESC_VALUE, keep_text(image, {}, *product));
        if (const auto& maker = device.described->manufacturer) add(MFG_VALUE, keep_text(image, {}, *maker));
        add(SERIAL_NUMBER_VALUE, keep_text(image, {}, device.serial));
    }
    if (needs.descriptions || needs.locations) add(LOCATION_VALUE, keep_text(image, {}, device.sys_name));
    if (needs.descriptions && device.release)
        values[count++] = {HARDWARE_ID_VALUE, REG_MULTI_SZ, string_data(image, hardware_ids(image, texts, node, *device.release))};
    if (node.composite) {
        // Its functions' names begin with its ParentIdPrefix.
        add(SERVICE_VALUE, COMPOSITE_SERVICE);
        add(PARENT_ID_PREFIX_VALUE, node.instance);
    }
    return count;
}

// The instance nodes of every device.
std::vector<view_node> view_nodes(reg_image& image, int root, const device_list& devices, const source_needs& needs) {
    std::vector<view_node> nodes;
    nodes.reserve(devices.size());
    unsigned made = 0;
    const auto add = [&](const usb_device& device, int interface, wview instance, const char16_t* guid,
                         std::string_view tty) -> view_node& {
        const wview port = tty.empty() ? wview() : keep_text(image, u"/dev/", tty);
        return nodes.emplace_back(view_node{.vid = device.vid,
                                            .pid = device.pid,
                                            .interface = interface,
                                            .instance = instance,
                                            .device = &device,
                                            .made = made++,
                                            .guid = guid,
                                            .composite = false,
                                            .tty = tty,
                                            .port = port});
    };
    const int bus = ::openat(root, "bus/usb/devices", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // What a node's bus reports it as, where the run describes its ports.
    const auto name_of = [&](const std::optional<std::string>& text) {
        return needs.descriptions && text ? keep_text(image, {}, *text) : wview();
    };
    for (const usb_device& device : devices) {
        made = 0;
        const wview instance = keep_text(image, {}, device.by_serial ? device.serial : device.sys_name);
        // Only a device with one port can be that port; the class files are
        // read for those alone.
        const bool is_port = device.ports.size() == 1 && single_function(bus, device);
        view_node& node = add(device, -1, instance, is_port ? PORTS_CLASS_GUID : USB_CLASS_GUID,
                              is_port ? std::string_view(device.ports.front().tty) : std::string_view());
        if (device.described) node.name = name_of(device.described->product);
        if (is_port || device.ports.empty()) continue;
        // A device whose ports are functions is composite, as Windows
        // records one.
        node.composite = true;
        // Each interface is a function; an interface with several ports
        // gives each its own instance, named after its number there.
        std::map<unsigned, std::vector<std::string>> interfaces;
        std::map<unsigned, std::string_view> folders;
        for (const tty_port& port : device.ports) {
            interfaces[port.interface].push_back(port.tty);
            folders[port.interface] = port.folder;
        }
        for (auto& [number, ttys] : interfaces) {
            const int function = static_cast<int>(number);
            char path[320];
            const wview name = needs.descriptions ? name_of(read_attr(bus, attr_path(path, folders[number], "interface")))
                                                  : wview();
            if (ttys.size() == 1) {
                add(device, function, instance, PORTS_CLASS_GUID, device_tty(device, ttys.front())).name = name;
                continue;
            }
            for (const auto& [port, tty] : numbered_ports(root, std::move(ttys)))
                add(device, function, keep_text(image, wtext(instance) + u'&', std::to_string(port)), PORTS_CLASS_GUID,
                    device_tty(device, tty))
                    .name = name;
        }
    }
    if (bus >= 0) ::close(bus);
    return nodes;
}

// The key `name` under `parent`, its only subkey.
image_key& only_child(reg_image& image, image_key& parent, wview name) {
    const auto child = image_array<image_key>(image, 1);
    child[0].name = name;
    parent.children = child;
    return child[0];
}

// The keys of `path` below `parent`, each its parent's only subkey: the last.
image_key& only_path(reg_image& image, image_key& parent, wview path) {
    image_key* key = &parent;
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find(u'\\', start), path.size());
        key = &only_child(image, *key, path.substr(start, end - start));
        start = end + 1;
    }
    return *key;
}

// The instance key of like-named nodes, `group`, in `instance`: its name
// the first's, its values and port the later's where both have one.
void image_instance(reg_image& image, std::span<const view_node* const> group, const source_needs& needs,
                    shared_texts& texts, image_key& instance) {
    node_values made;
    std::span<const image_value> values(made.data(), node_values_of(image, *group.front(), needs, texts, made));
    std::vector<image_value> merged;
    wview port = group.front()->port, name = group.front()->name;
    if (group.size() > 1) merged.assign(values.begin(), values.end());
    for (const view_node* later : group.subspan(1)) {
        const std::size_t count = node_values_of(image, *later, needs, texts, made);
        for (const image_value& value : std::span(made).first(count)) {
            auto same = std::find_if(merged.begin(), merged.end(),
                                     [&](const image_value& v) { return name_equal()(v.name, value.name); });
            if (same == merged.end()) merged.push_back(value);
            else same->data = value.data, same->type = value.type;
        }
        if (!later->tty.empty()) port = later->port;
        if (!later->name.empty()) name = later->name;
    }
    if (group.size() > 1) values = merged;
    instance.name = group.front()->instance;
    instance.values = image_copy(image, values);
    // Its subkeys, in the registry's order: Device Parameters, Properties.
    const auto children = image_array<image_key>(image, !port.empty() + !name.empty());
    if (!port.empty()) {
        children.front().name = DEVICE_PARAMETERS_KEY;
        const auto port_name = image_array<image_value>(image, 1);
        port_name[0] = {PORT_NAME_VALUE, REG_SZ, string_data(image, port)};
        children.front().values = port_name;
    }
    if (!name.empty()) {
        // Where Windows keeps what the bus reports the node as.
        if (texts.property.empty()) texts.property = keep_text(image, property_path(BUS_REPORTED_DESCRIPTION_KEY));
        const std::size_t first = texts.property.find(u'\\');
        children.back().name = texts.property.substr(0, first);
        const auto description = image_array<image_value>(image, 1);
        description[0] = {TEXT(""), property_value_type(DEVPROP_TYPE_STRING), string_data(image, name)};
        only_path(image, children.back(), texts.property.substr(first + 1)).values = description;
    }
    instance.children = children;
}

// The subkeys of Enum\USB, every node under its key.
std::span<const image_key> usb_subkeys(reg_image& image, const std::vector<view_node>& nodes,
                                       const source_needs& needs) {
    // The nodes in the registry's order: by key (whose names, VID_vvvv&PID_pppp
    // and its functions' &MI_nn, order as their numbers do), then instance.
    std::vector<const view_node*> order;
    order.reserve(nodes.size());
    for (const view_node& node : nodes) order.push_back(&node);
    const auto key_of = [](const view_node* n) { return std::tuple(n->vid, n->pid, n->interface); };
    std::sort(order.begin(), order.end(), [&](const view_node* a, const view_node* b) {
        if (key_of(a) != key_of(b)) return key_of(a) < key_of(b);
        const int names = name_order(a->instance, b->instance);
        return names ? names < 0 : made_before(*a, *b);
    });
    // Like-named nodes of one key become one instance: the ranges of each.
    std::vector<std::pair<std::size_t, std::size_t>> instances;
    std::size_t keys = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const bool new_key = i == 0 || key_of(order[i - 1]) != key_of(order[i]);
        keys += new_key;
        if (new_key || !name_equal()(order[i - 1]->instance, order[i]->instance))
            instances.emplace_back(i, i + 1);
        else
            instances.back().second = i + 1;
    }
    const auto usb_keys = image_array<image_key>(image, keys);
    shared_texts texts;
    const auto instance_keys = image_array<image_key>(image, instances.size());
    std::size_t key = 0;
    for (std::size_t i = 0; i < instances.size(); ++i) {
        const auto [first, end] = instances[i];
        const view_node& node = *order[first];
        if (i > 0 && key_of(order[instances[i - 1].first]) != key_of(&node)) ++key;
        if (usb_keys[key].name.empty()) {
            wtext name = model_key(node.vid, node.pid);
            if (node.interface >= 0) name += interface_suffix(static_cast<unsigned>(node.interface));
            usb_keys[key].name = keep_text(image, name);
            usb_keys[key].children = instance_keys.subspan(i, 0);
        }
        usb_keys[key].children = {usb_keys[key].children.data(), usb_keys[key].children.size() + 1};
        image_instance(image, std::span(order).subspan(first, end - first), needs, texts, instance_keys[i]);
    }
    return usb_keys;
}

}  // namespace

std::unique_ptr<reg_image> sysfs_image(const std::string& root_path, const source_needs& needs) {
    auto image = std::make_unique<reg_image>();
    // A root we may list but not enter is as unreadable as a missing one.
    if (::access(root_path.c_str(), R_OK | X_OK) != 0) return image;
    const int root = ::open(root_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) return image;
    auto devices = usb_devices(root, needs);
    attach_ttys(root, root_path, devices);
    name_instances(devices);
    const std::set<std::string> unready = unready_ports(root, devices, needs);
    std::vector<view_node> nodes = view_nodes(*image, root, devices, needs);
    ::close(root);

    // The ports that exist now, named in SERIALCOMM as \Device\TTY.
    std::vector<image_value> present;
    for (const view_node& node : nodes)
        if (!node.tty.empty() && !unready.count(std::string(node.tty)))
            present.push_back({keep_text(*image, u"\\Device\\", node.tty), REG_SZ, string_data(*image, node.port)});

    const auto usb_keys = usb_subkeys(*image, nodes, needs);

    // HARDWARE\... and SYSTEM\..., in the registry's order.
    const wview serialcomm_path = SERIALCOMM_PATH, usb_path = USB_ENUM_PATH;
    const std::size_t hardware = serialcomm_path.find(u'\\'), system = usb_path.find(u'\\');
    const auto top = image_array<image_key>(*image, 2);
    top[0].name = serialcomm_path.substr(0, hardware);
    top[1].name = usb_path.substr(0, system);
    image->hklm.children = top;
    only_path(*image, top[0], serialcomm_path.substr(hardware + 1)).values =
        image_copy(*image, std::span<const image_value>(present));
    only_path(*image, top[1], usb_path.substr(system + 1)).children = usb_keys;
    return image;
}
