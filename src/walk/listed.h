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
};

// Adds the port whose line (`line`) was just printed, with the values read
// from its keys, still open: the serial number its node records, else the
// instance name unless the system made it up (for a function the walk
// found, its device's); the location port_location gives; the node's
// description and maker. Reads that find nothing give none; none of them
// ends the run.
void keep_port(std::vector<listed_port>& ports, const scan_ctx& ctx, const found_port& found, wtext line);
