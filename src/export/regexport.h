// Reads a registry export, as `reg export` and regedit write it, into a
// registry image: its HKEY_LOCAL_MACHINE keys and values, decoded and
// parsed a line at a time as the bytes come, so that the export itself is
// never held whole.
#pragma once

#include "winapi/image.h"

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

struct export_error {
    std::size_t line;  // 1-based
    std::string what;
};

// Where an export's text starts, past its byte-order mark, and whether it
// is UTF-16LE (its mark says so; UTF-8 otherwise).
std::size_t text_start(std::string_view bytes, bool& utf16);

// The line an export of `bytes` that ends in the middle of a UTF-16
// character is refused at: one more than its line ends.
std::size_t utf16_lines(std::string_view bytes);

// Which values an image keeps, for a reader that reads only some: those
// named in `value_names` (without regard to case), and every value of the
// key at `every_value_path` (below HKEY_LOCAL_MACHINE). The others are
// read, so that their faults are found, and dropped.
struct value_choice {
    std::span<const WCHAR* const> value_names;
    const WCHAR* every_value_path = nullptr;
};

// How an export comes: a file, whose every line is read whole before it is
// judged; or a stream, refused at the first fault in what has come of a
// line still coming (a first line that can no longer be a header, a NUL
// character), so that an endless one is not held.
enum class export_arrival { file, stream };

// A reading under way: the keys and values read so far, and the bytes of
// a line not yet whole.
struct export_reading;

// Starts reading an export into `image`, whose HKEY_LOCAL_MACHINE it fills
// once the reading is finished, with the values `kept` chooses (all when
// null).
std::unique_ptr<export_reading, void (*)(export_reading*)> start_export(reg_image& image,
                                                                      const value_choice* kept = nullptr,
                                                                      export_arrival arrival = export_arrival::file);

// Reads the next bytes of the export: every line they complete. On an
// error, returns where and what; the reading is then to be discarded.
std::optional<export_error> read_more(export_reading& reading, std::string_view bytes);

// Reads the last line, if any, and builds the image's keys; an export that
// ends in the middle of a UTF-16 character is refused at its last line.
std::optional<export_error> finish_export(export_reading& reading);

// The whole export in `bytes` (UTF-16LE with BOM, or UTF-8 with or without
// BOM; a REGEDIT4 export's bytes that are not UTF-8 read as Windows-1252)
// into `image`: one that ends in the middle of a UTF-16 character is
// refused for that before any other fault. Sections under other roots are
// read and dropped.
std::optional<export_error> read_export(std::string_view bytes, reg_image& image, const value_choice* kept = nullptr);

// The export file at `path` (or a stream: a pipe, a device) read into an
// image whose memory comes from `memory` (export_file.cpp), as it comes:
// never held whole. Null, with the reason naming the file in `refusal`,
// when it cannot be read or is malformed.
std::unique_ptr<reg_image> read_export_file(const char* path, const image_memory& memory, std::string& refusal);
