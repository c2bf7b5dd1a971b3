// Reads a registry export, as `reg export` and regedit write it, into a
// registry image: its HKEY_LOCAL_MACHINE keys and values, decoded and
// parsed a line at a time as the bytes come, so that the export itself is
// never held whole.
#pragma once

#include "winapi/image.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct export_error {
    std::size_t line;  // 1-based
    std::string what;
};

// Where an export's text starts, past its byte-order mark, and whether it
// is UTF-16LE (its mark says so; UTF-8 otherwise).
std::size_t text_start(std::string_view bytes, bool& utf16);

// Whether `line`, the bytes of an export's first line so far (past the
// byte-order mark, without its line end), is one of the header lines the
// reader accepts or, while it is not `complete`, can still become one.
bool could_be_header(std::string_view line, bool utf16, bool complete);

// Whether `line`, an export's first line (past the byte-order mark, without
// its line end), is REGEDIT4's header: the export's bytes that are not UTF-8
// are then Windows-1252.
bool ansi_header(std::string_view line, bool utf16);

// The line an export of `bytes` that ends in the middle of a UTF-16
// character is refused at: one more than its line ends.
std::size_t utf16_lines(std::string_view bytes);

// A reading under way: the keys and values read so far, and the bytes of
// a line not yet whole.
struct export_reading;

// Starts reading an export into `image`, whose HKEY_LOCAL_MACHINE it fills
// once the reading is finished.
std::unique_ptr<export_reading, void (*)(export_reading*)> start_export(reg_image& image);

// Reads the next bytes of the export: every line they complete. On an
// error, returns where and what; the reading is then to be discarded.
std::optional<export_error> read_more(export_reading& reading, std::string_view bytes);

// Reads the last line, if any, and builds the image's keys.
std::optional<export_error> finish_export(export_reading& reading);

// The whole export in `bytes` (UTF-16LE with BOM, or UTF-8 with or without
// BOM; a REGEDIT4 export's bytes that are not UTF-8 read as Windows-1252)
// into `image`. Sections under other roots are read and dropped.
std::optional<export_error> read_export(std::string_view bytes, reg_image& image);
