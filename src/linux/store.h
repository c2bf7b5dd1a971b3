// The in-memory registry tree behind the Linux stand-in.
#pragma once

#include "report/text.h"

#include <map>
#include <memory>
#include <vector>

struct reg_value {
    wtext name;  // as first written
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct reg_key {
    wtext name;  // as first written
    // Keyed by the folded name: lookups ignore case, and iteration gives the
    // order in which Windows enumerates subkeys.
    std::map<wtext, std::unique_ptr<reg_key>> children;
    std::map<wtext, reg_value> values;
};

// Windows' longest key name and value name, in UTF-16 units.
inline constexpr std::size_t max_key_name = 255;
inline constexpr std::size_t max_value_name = 16383;
// Windows' deepest key path below a root.
inline constexpr std::size_t max_key_depth = 512;

// Upper-cases the letters Windows folds when it compares registry names
// (ASCII, Latin-1, Greek and Cyrillic).
wtext fold_name(wview name);

// The child called `name`, or null.
reg_key* find_child(reg_key& parent, wview name);

// The child called `name`, created when missing.
reg_key& child(reg_key& parent, wview name);

// The data of a REG_SZ value: `text` and its terminator, UTF-16LE.
std::vector<BYTE> string_bytes(wview text);

// Stores a REG_SZ value holding `text` and its terminator.
void set_string(reg_key& key, wview name, wview text);
