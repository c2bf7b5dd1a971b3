// The two-level walk over the USB device tree: device keys, then instance keys.
#pragma once

#include "walk/scan_ctx.h"

// Opens SYSTEM\CurrentControlSet\Enum\USB into `usb_key`; a failure ends
// the run with status 2.
void open_root(scan_ctx& ctx);

// Opens the device key the VID and PID name into `dev_key`, or ends the run
// with its message and status 10 when there is none.
void open_device_key(scan_ctx& ctx);

// Opens the instance key the S/N names into `inst_key`, or ends the run with
// its message and status 11 when there is none (an empty S/N names none).
void open_serial_key(scan_ctx& ctx);

// Walks the device keys under `usb_key`, or opens the one the VID and PID
// name. Ends the run with status 10 when that key does not exist.
void scan_devices(scan_ctx& ctx);

// Walks the instance keys under `dev_key`, or opens the one the S/N names.
// Ends the run with status 11 when that key does not exist.
void scan_instances(scan_ctx& ctx, const WCHAR* dev_name);

// After a filtered open: false when the key is open, true when it does not
// exist; any other status ends the run with status 2.
bool key_not_found(const scan_ctx& ctx);
