// The serial ports of USB devices in the IO registry, read through IOKit:
// macOS's own registry there, and on Linux a recorded one the emulation in
// src/iokit serves. The same code either way.
#pragma once

#include "platform/platform.h"
#include "usb/usb.h"

#include <cstdint>
#include <unordered_set>
#include <vector>

struct io_registry_ports {
    std::vector<usb_device> devices;
    // Serial clients matched but not named yet (no IOCalloutDevice): set up
    // a moment later, with no notification of their own.
    unsigned unnamed = 0;
};

// Every IOSerialBSDClient below a USB device, by its callout device (the
// cu. node, which opens without waiting for carrier detect), with its
// device's IDs, serial number and place from the device's entry, its
// interface's from the nearest copy below the device, and what `needs`
// asks besides. Clients whose registry
// IDs are in `gone` were terminated, and are left out while they linger.
io_registry_ports io_registry_devices(const source_needs& needs, const std::unordered_set<std::uint64_t>& gone = {});
