// Whether one instance key is a serial port present now, and its listing line.
#pragma once

#include "registry/registry.h"
#include "registry/schema.h"
#include "text/text.h"
#include "walk/scan_ctx.h"

#include <optional>

// The classes of device node that are serial ports: Ports, and with
// --all-ports Modem too (a USB modem's AT ports).
enum class port_classes { ports, ports_and_modems };

// The node's port when it is a serial port present now: of one of the
// classes, with its "PortName" under "Device Parameters" (a node without
// that subkey ends the run with status 2), known to the port service.
std::optional<wtext> present_port(HKEY key, port_classes classes);

// True when the port-configuration service knows the port now.
bool port_present(const std::optional<wtext>& name);

// A port found by the walk or the device view: what its line names it by
// (views of the finder's names), and its keys, still open.
struct found_port {
    wview vid = {}, pid = {};                // four characters each
    wview pid_field = {};                    // the full listing's PID, with any suffix or &MI_nn
    wview instance = {};                     // the line's S/N field
    std::optional<unsigned> interface = {};  // a composite device's function, a multi-port chip's channel
    wview port = {};
    HKEY port_key = nullptr;
    HKEY device_key = nullptr;          // the device's node, for a port of a function or a channel
    // The USB device node the port belongs to (its key under Enum\USB and
    // its instance; empty where it is not known), and for a composite
    // device's function the function's own node.
    wview device_node_key = {}, device_node_instance = {};
    wview function_node_key = {}, function_node_instance = {};
};

// What a port node's key under Enum\USB (`dev_name`, which device_key_valid
// accepts) and its instance name it by: its device's node, or for a
// composite device's function the function's own node and interface, with
// the key of its device's model in `device_model`.
found_port named_by_key(wview dev_name, wview instance, wtext& device_model);

// Names a function's port by its composite device, `instance` under
// `device_model`; opens that device's node when `open` (for its location
// and names), to be held as long as `found` is used.
owned_key name_by_device(found_port& found, HKEY usb_key, const wtext& device_model, const wtext& instance, bool open);

// The port's line, in one piece, in the form the filters call for (VID,
// PID field and S/N where they are not filters, then the port): printed,
// or kept when the run collects its ports (ctx.listed); neither when --at
// names another location.
void list_if_located(const scan_ctx& ctx, const found_port& found);

// Where the port's USB device is plugged in: a composite device's
// function is where its device node is; any other port where its own node
// says, or failing that its device's. None where neither says.
std::optional<wtext> location_of(const found_port& found);

// False when the run lists one location's ports (--at) and the port is
// elsewhere: its location (location_of) is another or none.
bool located_at(const scan_ctx& ctx, const found_port& found);

// Lists the instance key's port (list_if_located) when it is a serial port
// of the Ports class present now. `dev_name` is null in the filtered modes,
// `inst_name` in the S/N mode.
void list_if_port(const WCHAR* dev_name, const WCHAR* inst_name, const scan_ctx& ctx, HKEY inst_key);
