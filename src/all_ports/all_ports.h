// Ports by USB device (--all-ports): a device's ports are its own node, the
// nodes of its functions and the port nodes FTDI's driver makes for its
// chip under Enum\FTDIBUS, each qualified as the walk qualifies a port, and
// each line names the device the port belongs to.
#pragma once

#include "walk/scan_ctx.h"

// Lists ports by device under the root open in `usb_key`, with the filters
// in `ctx`: without them every device's ports in Enum\USB's order, then the
// FTDI ports in Enum\FTDIBUS's order; with VID and PID the ports of every
// device of that model; with an S/N that device's. `interface` keeps one
// function's ports. Ends the run with status 10 or 11 as the walk does, and
// with status 2 on a failure.
void scan_by_device(scan_ctx& ctx, int interface);
