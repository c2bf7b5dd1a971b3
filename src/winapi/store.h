// The in-memory registry tree behind the Linux stand-in.
#pragma once

#include "report/text.h"

#include <map>
#include <memory>
#include <vector>

// Orders names as Windows does: by their upper-cased form. Lookups with it
// ignore case, and iteration gives the order in which subkeys enumerate.
struct name_less {
    using is_transparent = void;
    bool operator()(wview a, wview b) const;
};

struct reg_value {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// Names are kept as first written; each is stored once, as its map key.
struct reg_key {
    std::map<wtext, std::unique_ptr<reg_key>, name_less> children;
    std::map<wtext, reg_value, name_less> values;
};

// Windows' longest key name and value name, in UTF-16 units.
inline constexpr std::size_t max_key_name = 255;
inline constexpr std::size_t max_value_name = 16383;
// Windows' deepest key path below a root.
inline constexpr std::size_t max_key_depth = 512;

// Upper-cases the letters Windows folds when it compares registry names
// (ASCII, Latin-1, Greek and Cyrillic).
WCHAR fold_char(WCHAR c);

// The child called `name`, or null.
reg_key* find_child(reg_key& parent, wview name);

// The child called `name`, created when missing.
reg_key& child(reg_key& parent, wview name);

// Stores `value` as `name`, in place of any value of that name.
void set_value(reg_key& key, wview name, reg_value value);

// The data of a REG_SZ value: `text` and its terminator, UTF-16LE.
std::vector<BYTE> string_bytes(wview text);

// Stores a REG_SZ value holding `text` and its terminator.
void set_string(reg_key& key, wview name, wview text);
