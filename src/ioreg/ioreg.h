// A recorded IO registry, as `ioreg -a -l` writes it (an XML property list:
// one dictionary for the root entry, each entry's children in
// IORegistryEntryChildren), or `ioreg -a -l -r -t -c CLASS` (an array of
// each match wrapped in its ancestors, shared ones repeated: merged by
// IORegistryEntryID), read into an image the IOKit emulation serves.
#pragma once

#include "iokit/io_image.h"

#include <memory>
#include <string>
#include <string_view>

// The most a dump may hold: a Mac's whole registry is a few MiB.
inline constexpr std::size_t max_ioreg_size = std::size_t{64} << 20;

// The registry recorded in `bytes`; null, with the reason in `why`, for a
// file that is not such a dump.
std::unique_ptr<io_image> read_ioreg(std::string_view bytes, std::string& why);

// The registry recorded in the file at `path`; null, with the reason in
// `why`, when it cannot be read or is not such a dump.
std::unique_ptr<io_image> read_ioreg_file(const char* path, std::string& why);
