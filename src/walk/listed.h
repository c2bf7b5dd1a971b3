// What --json and --watch keep of each port listed: the names its line came
// from, the line itself, and what the registry says of its device.
#pragma once

#include "text/text.h"
#include "walk/port.h"

#include <optional>
#include <vector>

struct listed_port {
    wtext line;  // the listing line, without its line end
    wtext port;
    wtext vid, pid;
    std::optional<unsigned> interface;  // the &MI_nn of the device key, or an FTDI chip's channel
    wtext instance;
    std::optional<wtext> serial, location, description, manufacturer;
    // The board's own words: its device's product string, its function's
    // interface string (none where it is the product's again), and its
    // device's release number (bcdDevice) in four hex digits.
    std::optional<wtext> product, interface_name, revision;
};

// Adds the port whose line is `line`, and where the run describes its
// ports (ctx.described) the values read from its keys, still open, and
// its device's nodes: the serial number its node records, else the
// instance name unless the system made it up (for a function, its
// device's); its location (location_of); the node's description and maker;
// the device's product and revision and the function's interface string.
// Reads that find nothing give none; none of them ends the run.
void keep_port(std::vector<listed_port>& ports, const scan_ctx& ctx, const found_port& found, wtext line);
