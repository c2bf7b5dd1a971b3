// Where the stand-in's registry comes from.
#pragma once

#include "winapi/image.h"

#include <memory>

// The HKEY_LOCAL_MACHINE tree: from the export file named by
// PORTSIFT_REGISTRY when it is set, otherwise from the USB devices under the
// sysfs root (PORTSIFT_SYSFS, or /sys). An export that cannot be read or is
// malformed ends the process with status 2 and one message on standard error.
std::unique_ptr<reg_image> load_registry();

// The export file named by PORTSIFT_REGISTRY, or null when the registry
// comes from sysfs.
const char* registry_export();

// Makes `tree` the tree the registry calls serve, in place of the one
// load_registry() gives on first use; every key still open is closed. For
// harnesses that run the program many times in one process.
void replace_registry(std::unique_ptr<reg_image> tree);

// Drops the tree and closes every key still open: the next open under
// HKEY_LOCAL_MACHINE loads it afresh from its source.
void forget_registry();
