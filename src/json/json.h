// The listing as data (--json): each listed port's object, and the one
// document that holds them.
#pragma once

#include "text/text.h"
#include "walk/listed.h"

#include <optional>
#include <vector>

// Adds the port's object to `out`: indented as in the document, or compact
// on one line ({"port":"COM3",...}), with the same fields and values.
void put_port(wtext& out, const listed_port& port, bool compact);

// Writes the document to standard output: {"version": 1, "ports": [...]},
// two spaces an indent, and a newline.
void write_document(const std::vector<listed_port>& ports);
