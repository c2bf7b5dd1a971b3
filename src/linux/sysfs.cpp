#include "linux/sysfs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char16_t* usb_class_guid = u"{36fc9e60-c465-11cf-8056-444553540000}";
constexpr const char16_t* ports_class_guid = u"{4d36e978-e325-11ce-bfc1-08002be10318}";

struct usb_device {
    std::string sys_name;  // e.g. 1-1.2
    std::string vid_pid;   // VID_1A2B&PID_3C4D
    std::string serial;
    std::vector<std::pair<std::string, std::string>> ports;  // interface number, tty name
};

// One attribute file, without its line end; none when it is missing or
// unreadable. Opened without blocking and read up to a bound, so that a FIFO
// or an endless file in a copied tree cannot stall us.
std::optional<std::string> read_attr(const std::string& dir, const char* name) {
    const int fd = ::open((dir + '/' + name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char buffer[4096];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (got < 0) return std::nullopt;
    std::string text(buffer, static_cast<std::size_t>(got));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
    return text;
}

std::optional<unsigned> hex_attr(const std::string& dir, const char* name, unsigned max) {
    const auto text = read_attr(dir, name);
    if (!text || text->empty() || text->size() > 8) return std::nullopt;
    unsigned value = 0;
    for (char c : *text) {
        const int digit = hex_digit(static_cast<unsigned char>(c));
        if (digit < 0) return std::nullopt;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return value <= max ? std::optional<unsigned>(value) : std::nullopt;
}

// The target of a symbolic link, or none.
std::optional<std::string> link_target(const std::string& path) {
    char buffer[4096];
    const ssize_t got = ::readlink(path.c_str(), buffer, sizeof buffer);
    if (got <= 0 || static_cast<std::size_t>(got) >= sizeof buffer) return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(got));
}

std::string last_component(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

// Windows names an instance after the serial number only when it is usable
// as one: printable ASCII without commas, and a valid key name.
bool usable_serial(const std::string& serial) {
    if (serial.empty() || serial.size() > max_key_name) return false;
    for (char c : serial)
        if (c < 0x20 || c > 0x7E || c == ',' || c == '\\') return false;
    return true;
}

// Windows gives a device one function when it has one interface or is of
// the communications class (02); otherwise one per interface (MI_nn).
bool single_function(const std::string& root, const usb_device& device) {
    const std::string dir = root + "/bus/usb/devices/" + device.sys_name;
    if (hex_attr(dir, "bDeviceClass", 0xFF) == 0x02u) return true;
    const std::string count = read_attr(dir, "bNumInterfaces").value_or("");
    const std::size_t digits = count.find_first_not_of(' ');
    return digits != std::string::npos && count.substr(digits) == "1";
}

// The attached USB devices, by their sysfs name. Each is read through its
// link in bus/usb/devices, which the kernel follows in the same call.
std::map<std::string, usb_device> usb_devices(const std::string& root) {
    std::map<std::string, usb_device> devices;
    const std::string bus = root + "/bus/usb/devices/";
    std::error_code error;
    for (fs::directory_iterator it(bus, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        if (name.find(':') != std::string::npos) continue;  // an interface
        const std::string dir = bus + name;
        const auto vid = hex_attr(dir, "idVendor", 0xFFFF);
        const auto pid = hex_attr(dir, "idProduct", 0xFFFF);
        if (!vid || !pid) continue;  // half gone, or not a device
        usb_device device;
        device.vid_pid = "VID_" + hex4(*vid) + "&PID_" + hex4(*pid);
        device.serial = read_attr(dir, "serial").value_or("");
        device.sys_name = std::move(name);
        devices.emplace(device.sys_name, std::move(device));
    }
    return devices;
}

// Where a path leads, all links followed: asked of the kernel through an
// O_PATH descriptor in one step, or resolved a step at a time without /proc.
std::optional<std::string> real_path(const std::string& path) {
    const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    const auto resolved = link_target("/proc/self/fd/" + std::to_string(fd));
    ::close(fd);
    if (resolved && resolved->front() == '/') return resolved;
    std::error_code error;
    const fs::path canonical = fs::canonical(path, error);
    return error ? std::nullopt : std::optional<std::string>(canonical.string());
}

// The directory of the USB interface a tty belongs to: a cdc_acm tty's
// device is the interface itself; a usb-serial tty's device is a port
// under it. The interface's own directory sits in its USB device's.
std::optional<std::string> tty_interface(const std::string& tty_dir) {
    const auto subsystem = link_target(tty_dir + "/device/subsystem");
    if (!subsystem) return std::nullopt;
    const std::string kind = last_component(*subsystem);
    if (kind != "usb" && kind != "usb-serial") return std::nullopt;
    auto device = real_path(tty_dir + "/device");
    if (!device) return std::nullopt;
    if (kind == "usb-serial") device->resize(device->rfind('/'));
    return device;
}

void attach_ttys(const std::string& root, std::map<std::string, usb_device>& devices) {
    const std::string class_dir = root + "/class/tty/";
    std::error_code error;
    for (fs::directory_iterator it(class_dir, error), end; !error && it != end; it.increment(error)) {
        const std::string tty = it->path().filename().string();
        const auto interface = tty_interface(class_dir + tty);
        if (!interface || interface->size() < 2) continue;
        const std::string parent = interface->substr(0, interface->rfind('/'));
        const auto device = devices.find(last_component(parent));
        const auto number = hex_attr(*interface, "bInterfaceNumber", 0xFF);
        if (device == devices.end() || !number) continue;
        char mi[8];
        std::snprintf(mi, sizeof mi, "%02X", *number);
        device->second.ports.emplace_back(mi, tty);
    }
}

reg_key& usb_root(reg_key& hklm) {
    return child(child(child(child(hklm, u"SYSTEM"), u"CurrentControlSet"), u"Enum"), u"USB");
}

void add_instance(reg_key& usb, const std::string& key_name, const std::string& instance, const char16_t* guid,
                  const std::string& tty, reg_key& serialcomm) {
    reg_key& inst = child(child(usb, from_utf8(key_name)), from_utf8(instance));
    set_string(inst, u"ClassGUID", guid);
    if (tty.empty()) return;
    const wtext port = from_utf8("/dev/" + tty);
    set_string(child(inst, u"Device Parameters"), u"PortName", port);
    set_string(serialcomm, from_utf8("\\Device\\" + tty), port);
}

}  // namespace

void build_sysfs_view(const std::string& root, reg_key& hklm) {
    std::error_code error;
    if (::access(root.c_str(), R_OK | X_OK) != 0 || !fs::is_directory(root, error)) return;
    reg_key& usb = usb_root(hklm);
    reg_key& serialcomm = child(child(child(hklm, u"HARDWARE"), u"DEVICEMAP"), u"SERIALCOMM");
    auto devices = usb_devices(root);
    attach_ttys(root, devices);
    // Two attached devices with the same VID, PID and serial (as the
    // registry compares names: without regard to case) each go by their
    // sysfs name, so that every instance name stays unique.
    const auto instance_id = [](const usb_device& device) {
        std::string id = device.vid_pid + '\\' + device.serial;
        for (char& c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return id;
    };
    std::map<std::string, int> uses;
    for (const auto& [name, device] : devices)
        if (usable_serial(device.serial)) ++uses[instance_id(device)];
    for (const auto& [name, device] : devices) {
        const bool by_serial = usable_serial(device.serial) && uses[instance_id(device)] == 1;
        const std::string instance = by_serial ? device.serial : device.sys_name;
        // Only a device with one port can be that port; the class files are
        // read for those alone.
        const bool is_port = device.ports.size() == 1 && single_function(root, device);
        add_instance(usb, device.vid_pid, instance, is_port ? ports_class_guid : usb_class_guid,
                     is_port ? device.ports.front().second : std::string(), serialcomm);
        if (is_port) continue;
        for (const auto& [mi, tty] : device.ports)
            add_instance(usb, device.vid_pid + "&MI_" + mi, instance, ports_class_guid, tty, serialcomm);
    }
}
