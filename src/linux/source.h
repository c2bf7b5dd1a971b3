// Where the stand-in's registry comes from.
#pragma once

#include "linux/store.h"

// The HKEY_LOCAL_MACHINE tree, loaded on first use: from the export file
// named by PORTSIFT_REGISTRY when it is set, otherwise from the USB devices
// under the sysfs root. An export that cannot be read or is malformed ends
// the process with status 2 and one message on standard error.
reg_key& loaded_hklm();
