// The registry's sources on Linux, behind open_registry_source (the
// systems' contract): each reads the devices' record into a registry image
// for the emulated calls to serve. A Mac's recorded IO registry
// (PORTSIFT_IOREG) or a registry export (PORTSIFT_REGISTRY) serves tests
// and offline inspection; otherwise the USB devices the kernel lists under
// the sysfs root (PORTSIFT_SYSFS, or /sys), shaped as Windows records them.
#pragma once

#include "platform/platform.h"
#include "usb/usb.h"
#include "winapi/image.h"

#include <memory>
#include <string>
#include <vector>

// The export file named by PORTSIFT_REGISTRY, or null when the registry
// comes from sysfs.
const char* registry_export();

// The recorded Mac's IO registry named by PORTSIFT_IOREG, an `ioreg -a -l`
// dump, whose USB serial ports are listed as that Mac would list them; or null.
const char* ioreg_dump();

// The file the registry is read from, a dump or an export; null for sysfs.
const char* recorded_file();

// The USB devices under `root`, a sysfs tree, and their ttys (sysfs.cpp),
// with what `needs` asks besides; none for a root that cannot be read.
std::vector<usb_device> sysfs_devices(const std::string& root, const source_needs& needs);
