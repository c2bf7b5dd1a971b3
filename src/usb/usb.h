// The USB devices attached now and their serial ports, as each system's
// reader finds them (sysfs on Linux, the IO registry on macOS), and the one
// shaper that turns them into the registry image the walk reads: the nodes
// Windows would record under Enum\USB, and SERIALCOMM for the ports.
#pragma once

#include "platform/platform.h"
#include "winapi/image.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct usb_port {
    std::string path = {};  // the device node a program opens: /dev/ttyACM0, /dev/cu.usbmodem1101
    // The function's interface number, as Windows numbers it: a CDC
    // function by its first (control) interface.
    unsigned interface = 0;
    // Its number on that interface, where one interface has several ports
    // (a usb-serial port_number); none: they go in the order of their names.
    std::optional<unsigned> number = {};
    std::optional<std::string> interface_name = {};  // what the interface calls itself, when descriptions are asked
    bool ready = true;  // whether the system has finished setting it up
};

struct usb_device {
    // Its place on the buses, BUS-PORT.PORT...: the name of a device
    // without a usable serial number, and its location.
    std::string place;
    unsigned vid = 0, pid = 0;
    std::string serial;  // empty for none
    std::optional<unsigned> release;       // bcdDevice
    // What decides whether a device with one port is that port: read by
    // the readers for those devices alone.
    std::optional<unsigned> device_class;  // bDeviceClass
    unsigned interfaces = 0;               // bNumInterfaces
    std::optional<std::string> product = {}, manufacturer = {};  // as the device gives them, when descriptions are asked
    std::vector<usb_port> ports = {};
};

// The registry view of `devices` (their order does not matter):
// SYSTEM\CurrentControlSet\Enum\USB as Windows would record them and
// HARDWARE\DEVICEMAP\SERIALCOMM for their ready ports, with what `needs`
// asks besides. Its port map is set.
std::unique_ptr<reg_image> shape_registry(const std::vector<usb_device>& devices, const source_needs& needs);

// The place of a device from its macOS locationID: the top byte its bus,
// each further nibble up to the first 0 a hub port, as 1-1.1.4 for
// 0x01114000.
std::string place_of_location(unsigned long long location_id);
