// The registry's sources on Linux, behind open_registry_source (the
// systems' contract): each reads the devices' record into a registry image
// for the emulated calls to serve. A registry export, named by
// PORTSIFT_REGISTRY, serves tests and offline inspection; otherwise the
// view of the USB devices the kernel lists under the sysfs root
// (PORTSIFT_SYSFS, or /sys).
#pragma once

#include "platform/platform.h"
#include "winapi/image.h"

#include <memory>
#include <string>

// The export file named by PORTSIFT_REGISTRY, or null when the registry
// comes from sysfs.
const char* registry_export();

// The export at `path` read into an image (source.cpp); null, with the
// reason in `outcome.refusal`, when it cannot be read or is malformed.
std::unique_ptr<reg_image> export_image(const char* path, source_outcome& outcome);

// The view of the USB devices under `root`, a sysfs tree (sysfs.cpp):
// SYSTEM\CurrentControlSet\Enum\USB as Windows would record them and
// HARDWARE\DEVICEMAP\SERIALCOMM for their serial ports, with what `needs`
// asks besides. A root that cannot be read gives one without the USB key.
std::unique_ptr<reg_image> sysfs_image(const std::string& root, const source_needs& needs);
