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

// Writes the document to standard output: {"version": 1, "ports": [...]},
// two spaces an indent, and a newline.
void write_document(const std::vector<listed_port>& ports);
