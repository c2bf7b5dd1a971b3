// The registry view of the USB devices the Linux kernel lists now.
#pragma once

#include "winapi/image.h"

#include <string>

// A registry holding SYSTEM\CurrentControlSet\Enum\USB for the USB devices
// under `root` (a sysfs tree) and HARDWARE\DEVICEMAP\SERIALCOMM for their
// serial ports. A root that cannot be read gives one without the USB key.
std::unique_ptr<reg_image> sysfs_image(const std::string& root);

// From now on the view also carries each device's product (DeviceDesc),
// maker (Mfg) and serial number (SerialNumber, empty for none).
void describe_sysfs_devices();

// From now on the view also carries each device's location
// (LocationInformation: its sysfs name, such as 1-6.2).
void locate_sysfs_devices();
