// The registry tree an export is read into, before the stand-in's calls
// serve its image (image.h).
#pragma once

#include "report/text.h"

#include <map>
#include <memory>
#include <memory_resource>
#include <vector>

// Orders names as Windows does: by their upper-cased form. Lookups with it
// ignore case, and iteration gives the order in which subkeys enumerate.
struct name_less {
    using is_transparent = void;
    bool operator()(wview a, wview b) const;
};

// The same order as a three-way comparison: negative, zero or positive.
int name_order(wview a, wview b);

// Hashes and compares names as name_less orders them, for lookups by name
// alone.
struct name_hash {
    using is_transparent = void;
    std::size_t operator()(wview name) const;
};
struct name_equal {
    using is_transparent = void;
    bool operator()(wview a, wview b) const;
};

// A tree's keys, values and names are allocated from its own memory: one
// arena for a loaded registry, released at once when the tree goes.
using reg_allocator = std::pmr::polymorphic_allocator<>;
using reg_name = std::pmr::u16string;
using reg_bytes = std::pmr::vector<BYTE>;

struct reg_value {
    using allocator_type = reg_allocator;
    DWORD type = REG_NONE;
    reg_bytes data;

    reg_value() = default;
    explicit reg_value(const allocator_type& memory) : data(memory) {}
    reg_value(const reg_value& other, const allocator_type& memory) : type(other.type), data(other.data, memory) {}
    reg_value(reg_value&& other, const allocator_type& memory) : type(other.type), data(std::move(other.data), memory) {}
    reg_value(const reg_value&) = default;
    reg_value(reg_value&&) = default;
    reg_value& operator=(const reg_value&) = default;
    reg_value& operator=(reg_value&&) = default;
};

struct reg_key;

// Frees a subkey in the memory it came from.
struct free_key {
    reg_allocator memory;
    void operator()(reg_key* key) const;
};

// Names are kept as first written; each is stored once, as its map key.
struct reg_key {
    using allocator_type = reg_allocator;
    reg_key() = default;
    explicit reg_key(const allocator_type& memory) : children(memory), values(memory) {}
    std::pmr::map<reg_name, std::unique_ptr<reg_key, free_key>, name_less> children;
    std::pmr::map<reg_name, reg_value, name_less> values;
};

// A whole registry, HKEY_LOCAL_MACHINE and all below it, in one arena.
struct reg_tree {
    std::pmr::monotonic_buffer_resource arena;
    reg_key hklm{&arena};
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
reg_bytes string_bytes(wview text);

