#include "ioservice/ioservice.h"

#include <IOKit/IOKitLib.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace {

// An IOKit object released when it goes.
class io_held {
public:
    io_held() = default;
    explicit io_held(io_object_t object) : object_(object) {}
    io_held(io_held&& other) noexcept : object_(std::exchange(other.object_, IO_OBJECT_NULL)) {}
    io_held& operator=(io_held&& other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~io_held() {
        if (object_ != IO_OBJECT_NULL) IOObjectRelease(object_);
    }
    io_object_t get() const { return object_; }
    explicit operator bool() const { return object_ != IO_OBJECT_NULL; }

private:
    io_object_t object_ = IO_OBJECT_NULL;
};

struct cf_release {
    void operator()(const void* object) const { CFRelease(object); }
};
using cf_held = std::unique_ptr<const void, cf_release>;

// A property of `entry`, or where it has none and `above` is given, of the
// nearest entry above it up to `above` (macOS copies a device's data down
// to its interfaces and to DriverKit drivers); never of what lies above
// `above`, such as the hub a device hangs on.
cf_held property(io_object_t entry, const char* name, io_object_t above = IO_OBJECT_NULL) {
    const cf_held key(CFStringCreateWithCString(kCFAllocatorDefault, name, kCFStringEncodingUTF8));
    if (!key) return nullptr;
    io_held step;  // holds `at` while it is climbed from
    for (io_object_t at = entry;;) {
        if (cf_held value{IORegistryEntryCreateCFProperty(at, static_cast<CFStringRef>(key.get()), kCFAllocatorDefault, 0)})
            return value;
        io_registry_entry_t parent = IO_OBJECT_NULL;
        if (!above || at == above || IORegistryEntryGetParentEntry(at, kIOServicePlane, &parent) != kIOReturnSuccess)
            return nullptr;
        step = io_held(parent);
        at = parent;
    }
}

std::optional<std::string> text_property(io_object_t entry, const char* name, io_object_t above = IO_OBJECT_NULL) {
    const cf_held value = property(entry, name, above);
    if (!value || CFGetTypeID(value.get()) != CFStringGetTypeID()) return std::nullopt;
    const auto string = static_cast<CFStringRef>(value.get());
    const CFIndex size = CFStringGetMaximumSizeForEncoding(CFStringGetLength(string), kCFStringEncodingUTF8) + 1;
    std::string text(static_cast<std::size_t>(size), '\0');
    if (!CFStringGetCString(string, text.data(), size, kCFStringEncodingUTF8)) return std::nullopt;
    text.resize(text.find('\0'));
    return text;
}

// The first of two names a property goes by.
std::optional<std::string> text_property(io_object_t entry, const char* name, const char* other,
                                         io_object_t above = IO_OBJECT_NULL) {
    auto text = text_property(entry, name, above);
    return text ? text : text_property(entry, other, above);
}

// A number at its full width: locationID and registry IDs need more than 16 bits.
std::optional<std::int64_t> number_property(io_object_t entry, const char* name, io_object_t above = IO_OBJECT_NULL) {
    const cf_held value = property(entry, name, above);
    std::int64_t number = 0;
    if (!value || CFGetTypeID(value.get()) != CFNumberGetTypeID() ||
        !CFNumberGetValue(static_cast<CFNumberRef>(value.get()), kCFNumberSInt64Type, &number))
        return std::nullopt;
    return number;
}

std::optional<unsigned> small_number(io_object_t entry, const char* name, std::int64_t max,
                                     io_object_t above = IO_OBJECT_NULL) {
    const auto number = number_property(entry, name, above);
    return number && *number >= 0 && *number <= max ? std::optional<unsigned>(static_cast<unsigned>(*number))
                                                    : std::nullopt;
}

// USB devices and interfaces go by two classes: IOUSBDevice and
// IOUSBInterface up to OS X 10.10 (and after, as the IOUSBHost classes'
// override), IOUSBHostDevice and IOUSBHostInterface since.
bool is_device(io_object_t entry) {
    return IOObjectConformsTo(entry, "IOUSBDevice") || IOObjectConformsTo(entry, "IOUSBHostDevice");
}
bool is_interface(io_object_t entry) {
    return IOObjectConformsTo(entry, "IOUSBInterface") || IOObjectConformsTo(entry, "IOUSBHostInterface");
}

// The USB interface and device a serial client hangs below.
struct usb_ancestors {
    io_held interface, device;
};

// Climbs the IOService plane from `client` to its USB device; none where
// there is none, or where a Bluetooth device sits between (a Bluetooth
// port's controller may itself be on USB).
usb_ancestors climb(io_object_t client) {
    usb_ancestors found;
    io_held step;  // holds `at` while it is climbed from
    for (io_object_t at = client;;) {
        io_registry_entry_t parent = IO_OBJECT_NULL;
        if (IORegistryEntryGetParentEntry(at, kIOServicePlane, &parent) != kIOReturnSuccess) return {};
        io_held held(parent);
        io_name_t class_name{};
        if (IOObjectGetClass(parent, class_name) != kIOReturnSuccess ||
            std::string_view(class_name).starts_with("IOBluetooth"))
            return {};
        if (is_device(parent)) {
            found.device = std::move(held);
            return found;
        }
        at = parent;
        if (!found.interface && is_interface(parent)) found.interface = std::move(held);
        else step = std::move(held);
    }
}

// Calls `each` with every interface of a USB device.
template <typename Each>
void each_interface(io_object_t device, Each each) {
    io_iterator_t children = IO_OBJECT_NULL;
    if (IORegistryEntryGetChildIterator(device, kIOServicePlane, &children) != kIOReturnSuccess) return;
    const io_held iterator(children);
    while (const io_held child{IOIteratorNext(children)})
        if (is_interface(child.get())) each(child.get());
}

// The number Windows gives a port's function: a CDC port hangs on the data
// interface (class 0A), the function goes by its control interface (class
// 02), the nearest below it. A dump of each port's ancestors alone
// (ioreg -r -t) records no other interface: there the control interface
// is taken to be the one just before, as CDC functions place them.
unsigned function_number(io_object_t device, unsigned interface, std::optional<unsigned> interface_class) {
    if (interface_class != 0x0Au) return interface;
    std::optional<unsigned> control;
    bool before_recorded = false;
    each_interface(device, [&](io_object_t other) {
        const auto number = small_number(other, "bInterfaceNumber", 0xFF);
        if (!number || *number >= interface) return;
        before_recorded = before_recorded || *number + 1 == interface;
        if (small_number(other, "bInterfaceClass", 0xFF) == 0x02u && (!control || *number > *control))
            control = number;
    });
    if (control) return *control;
    return interface > 0 && !before_recorded ? interface - 1 : interface;
}

// A device's record, from its own entry.
usb_device read_device(io_object_t device, const source_needs& needs) {
    usb_device record{.place = place_of_location(static_cast<std::uint64_t>(number_property(device, "locationID").value_or(0))),
                      .vid = small_number(device, "idVendor", 0xFFFF).value_or(0),
                      .pid = small_number(device, "idProduct", 0xFFFF).value_or(0),
                      .serial = text_property(device, "kUSBSerialNumberString", "USB Serial Number").value_or(""),
                      .release = small_number(device, "bcdDevice", 0xFFFF),
                      .device_class = small_number(device, "bDeviceClass", 0xFF)};
    // Its interfaces, or where a dump records only some, at least as many
    // as the highest number among them shows.
    unsigned highest = 0;
    each_interface(device, [&](io_object_t interface) {
        ++record.interfaces;
        highest = std::max(highest, small_number(interface, "bInterfaceNumber", 0xFF).value_or(0) + 1);
    });
    record.interfaces = std::max(record.interfaces, highest);
    if (needs.descriptions) {
        record.product = text_property(device, "kUSBProductString", "USB Product Name");
        record.manufacturer = text_property(device, "kUSBVendorString", "USB Vendor Name");
    }
    return record;
}

}  // namespace

io_registry_ports io_registry_devices(const source_needs& needs, const std::unordered_set<std::uint64_t>& gone) {
    io_registry_ports found;
    io_iterator_t clients = IO_OBJECT_NULL;
    if (IOServiceGetMatchingServices(kIOMainPortDefault, IOServiceMatching("IOSerialBSDClient"), &clients) !=
        kIOReturnSuccess)
        return found;
    const io_held iterator(clients);
    // Each device's record by its registry ID.
    std::map<std::uint64_t, std::size_t> known;
    while (const io_held client{IOIteratorNext(clients)}) {
        std::uint64_t client_id = 0;
        if (IORegistryEntryGetRegistryEntryID(client.get(), &client_id) == kIOReturnSuccess && gone.count(client_id))
            continue;
        const usb_ancestors above = climb(client.get());
        if (!above.device) continue;  // not on USB: Bluetooth, a modem, the debug console
        const auto path = text_property(client.get(), "IOCalloutDevice");
        if (!path) {
            ++found.unnamed;
            continue;
        }
        std::uint64_t id = 0;
        IORegistryEntryGetRegistryEntryID(above.device.get(), &id);
        const auto [at, added] = known.emplace(id, found.devices.size());
        if (added) found.devices.push_back(read_device(above.device.get(), needs));
        // The interface's data, from the nearest copy below the device.
        const io_object_t device = above.device.get();
        const unsigned interface = small_number(client.get(), "bInterfaceNumber", 0xFF, device).value_or(0);
        usb_port port{.path = *path,
                      .interface = function_number(device, interface,
                                                   small_number(client.get(), "bInterfaceClass", 0xFF, device))};
        if (needs.descriptions)
            port.interface_name = text_property(client.get(), "kUSBString", "USB Interface Name", device);
        found.devices[at->second].ports.push_back(std::move(port));
    }
    return found;
}
