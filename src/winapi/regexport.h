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

// Applies the export in `bytes` (UTF-16LE with BOM, or UTF-8 with or without
// BOM) to `hklm`. Sections under other roots are read and dropped. On an
// error, returns where and what; `hklm` is then to be discarded.
std::optional<export_error> read_export(std::string_view bytes, reg_key& hklm);
