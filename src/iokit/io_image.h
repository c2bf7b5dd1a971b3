// An IO registry as the Linux emulation of IOKit serves it: the entries of
// the IOService plane, each with its class, its ID and the properties the
// calls read. A recorded registry (src/ioreg) is read into one and handed
// to the emulation (serve_io_image).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

// A property's value: a string (UTF-8), a number, or what the calls do not
// read (data, booleans, arrays, dictionaries).
struct io_other {};
using io_value = std::variant<std::string, std::int64_t, io_other>;

struct io_entry {
    std::string class_name;  // IOObjectClass
    std::string class_override = {};  // IOClassNameOverride: what it answers to besides; empty for none
    std::uint64_t id = 0;  // IORegistryEntryID
    std::size_t parent = 0;  // its index; the root's is its own
    std::vector<std::size_t> children = {};
    std::vector<std::pair<std::string, io_value>> properties = {};
};

struct io_image {
    std::vector<io_entry> entries;  // the root first
};

// Makes `image` the registry the IOKit calls serve; every object still held
// goes stale. Until the first image, the registry has no entries.
void serve_io_image(std::unique_ptr<io_image> image);
