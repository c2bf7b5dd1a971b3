// The port queries and the devices' descriptions on Linux.
#include "registry/platform.h"
#include "winapi/sysfs.h"

// The stand-in's port queries need nothing loaded.
void prepare_port_query() {}

// The sysfs view reads each device's product, maker and serial number only
// when asked.
void describe_devices() { describe_sysfs_devices(); }

void locate_devices() { locate_sysfs_devices(); }
