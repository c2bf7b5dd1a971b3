#include "linux/sysfs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    bool single_function;  // one interface, or device class 02 (communications)
    std::vector<std::pair<std::string, std::string>> ports;  // interface number, tty name
};

// One attribute file, without its line end; none when it is missing, not a
// regular file, or unreadable. Opened without blocking and read up to a
// bound, so that a FIFO or an endless file in a copied tree cannot stall us.
std::optional<std::string> read_attr(const fs::path& dir, const char* name) {
    const int fd = ::open((dir / name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::optional<std::string> text;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        char buffer[4096];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got >= 0) {
            text.emplace(buffer, static_cast<std::size_t>(got));
            while (!text->empty() && (text->back() == '\n' || text->back() == '\0')) text->pop_back();
        }
    }
    ::close(fd);
    return text;
}

std::optional<unsigned> hex_attr(const fs::path& dir, const char* name, unsigned max) {
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

std::optional<fs::path> resolve(const fs::path& path) {
    std::error_code error;
    fs::path real = fs::canonical(path, error);
    if (error) return std::nullopt;
    return real;
}

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
bool single_function(const fs::path& device) {
    const std::string count = read_attr(device, "bNumInterfaces").value_or("");
    const std::size_t digits = count.find_first_not_of(' ');
    return (digits != std::string::npos && count.substr(digits) == "1") ||
           hex_attr(device, "bDeviceClass", 0xFF) == 0x02u;
}

// The attached USB devices, by the real path of their sysfs directory.
std::map<fs::path, usb_device> usb_devices(const fs::path& root) {
    std::map<fs::path, usb_device> devices;
    std::error_code error;
    for (fs::directory_iterator it(root / "bus/usb/devices", error), end; !error && it != end; it.increment(error)) {
        const auto real = resolve(it->path());
        if (!real) continue;
        const auto vid = hex_attr(*real, "idVendor", 0xFFFF);
        const auto pid = hex_attr(*real, "idProduct", 0xFFFF);
        if (!vid || !pid) continue;  // an interface, or a device half gone
        usb_device device;
        device.sys_name = it->path().filename().string();
        device.vid_pid = "VID_" + hex4(*vid) + "&PID_" + hex4(*pid);
        device.serial = read_attr(*real, "serial").value_or("");
        device.single_function = single_function(*real);
        devices.emplace(*real, std::move(device));
    }
    return devices;
}

// The interface directory a tty hangs off: cdc_acm ttys belong to the USB
// interface itself, usb-serial ttys to a port device under the interface.
std::optional<fs::path> tty_interface(const fs::path& tty) {
    const auto device = resolve(tty / "device");
    if (!device) return std::nullopt;
    const auto subsystem = resolve(*device / "subsystem");
    if (!subsystem) return std::nullopt;
    if (subsystem->filename() == "usb") return device;
    if (subsystem->filename() == "usb-serial") return device->parent_path();
    return std::nullopt;
}

void attach_ttys(const fs::path& root, std::map<fs::path, usb_device>& devices) {
    std::error_code error;
    for (fs::directory_iterator it(root / "class/tty", error), end; !error && it != end; it.increment(error)) {
        const auto interface = tty_interface(it->path());
        if (!interface) continue;
        const auto device = devices.find(interface->parent_path());
        const auto number = hex_attr(*interface, "bInterfaceNumber", 0xFF);
        if (device == devices.end() || !number) continue;
        char mi[8];
        std::snprintf(mi, sizeof mi, "%02X", *number);
        device->second.ports.emplace_back(mi, it->path().filename().string());
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

void build_sysfs_view(const std::string& root_name, reg_key& hklm) {
    const fs::path root(root_name);
    if (::access(root.c_str(), R_OK | X_OK) != 0 || !fs::is_directory(root)) return;
    reg_key& usb = usb_root(hklm);
    reg_key& serialcomm = child(child(child(hklm, u"HARDWARE"), u"DEVICEMAP"), u"SERIALCOMM");
    auto devices = usb_devices(root);
    attach_ttys(root, devices);
    // Two attached devices with the same VID, PID and serial each go by
    // their sysfs name, so that every instance name stays unique.
    std::map<std::string, int> uses;
    for (const auto& [path, device] : devices)
        if (usable_serial(device.serial)) ++uses[device.vid_pid + '\\' + device.serial];
    for (const auto& [path, device] : devices) {
        const bool by_serial = usable_serial(device.serial) && uses[device.vid_pid + '\\' + device.serial] == 1;
        const std::string instance = by_serial ? device.serial : device.sys_name;
        const bool is_port = device.single_function && device.ports.size() == 1;
        add_instance(usb, device.vid_pid, instance, is_port ? ports_class_guid : usb_class_guid,
                     is_port ? device.ports.front().second : std::string(), serialcomm);
        if (is_port) continue;
        for (const auto& [mi, tty] : device.ports)
            add_instance(usb, device.vid_pid + "&MI_" + mi, instance, ports_class_guid, tty, serialcomm);
    }
}
