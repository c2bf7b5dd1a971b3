// The listing as data (--json): each listed port with what the registry
// says of its device, and the one document that holds them.
#pragma once

#include "main/scan_ctx.h"
#include "report/text.h"

#include <optional>
#include <vector>

struct listed_port {
    wtext port;
    wtext vid, pid;
    std::optional<unsigned> interface;  // the &MI_nn of the device key
    wtext instance;
    std::optional<wtext> serial, location, description, manufacturer;
};

// Adds the port whose line was just printed: the names the line came from
// (`dev_name` null in the filtered modes, `inst_name` in the S/N mode, as
// for the line), and the values read from its instance key, still open.
// Reads that find nothing give none; none of them ends the run.
void keep_port(std::vector<listed_port>& ports, const WCHAR* dev_name, const WCHAR* inst_name, const scan_ctx& ctx,
               HKEY inst_key, const wtext& port);

// Adds a port found through its USB device (--all-ports). `listed` holds
// what its line came from: port, VID, PID, interface and the device's
// instance name. The serial number is the one the port's node records, or
// else the instance name unless the system made it up; the location is the
// port node's, or else the device node's (`device_key`, null when the
// device was not found); description and maker are the port node's.
void keep_device_port(std::vector<listed_port>& ports, listed_port listed, HKEY port_key, HKEY device_key);

// Adds the port's object to `out`: indented as in the document, or compact
// on one line ({"port":"COM3",...}), with the same fields and values.
void put_port(wtext& out, const listed_port& port, bool compact);

// Writes the document to standard output: {"version": 1, "ports": [...]},
// two spaces an indent, and a newline.
void write_document(const std::vector<listed_port>& ports);
