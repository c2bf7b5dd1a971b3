// Reads a registry export, as `reg export` and regedit write it, into the
// HKEY_LOCAL_MACHINE tree of the stand-in.
#pragma once

#include "winapi/store.h"

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

// Applies the export in `bytes` (UTF-16LE with BOM, or UTF-8 with or without
// BOM) to `hklm`. Sections under other roots are read and dropped. On an
// error, returns where and what; `hklm` is then to be discarded.
std::optional<export_error> read_export(std::string_view bytes, reg_key& hklm);
