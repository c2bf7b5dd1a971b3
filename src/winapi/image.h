// The registry as the Linux emulation's calls serve it: read-only once made,
// each key's subkeys in one sorted array, so that enumerating is indexing
// and opening is a binary search. A registry source (an export, the sysfs
// view) makes one and hands it to the emulation (serve_image).
#pragma once

#include "text/text.h"

#include <setupapi.h>

#include <algorithm>
#include <memory>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

// Windows' longest key name and value name, in UTF-16 units, and its
// deepest key path below a root.
inline constexpr std::size_t max_key_name = 255;
inline constexpr std::size_t max_value_name = 16383;
inline constexpr std::size_t max_key_depth = 512;

// Names and data are views into the image's arena or static text.
struct image_value {
    wview name;
    DWORD type = REG_NONE;
    std::span<const BYTE> data;
};

struct image_key {
    image_key() = default;
    // Copying is defaulted below, where the type is complete: libc++ checks
    // a span of it as a range when the copy is declared.
    image_key(const image_key&);
    image_key& operator=(const image_key&);
    wview name;
    std::span<const image_key> children;  // sorted as name_less orders names
    std::span<const image_value> values;  // keys hold few
};
inline image_key::image_key(const image_key&) = default;
inline image_key& image_key::operator=(const image_key&) = default;

// Where an arena's runs come from, and go back to.
struct image_memory {
    void* (*take)(std::size_t bytes, std::size_t alignment);
    void (*give_back)(void* run, std::size_t bytes, std::size_t alignment);
};

// The heap's operator new and delete.
extern const image_memory heap_memory;

// Hands out pieces of runs of memory that double in size, from 64 KiB;
// they are all given back at once, when it goes.
class image_arena {
public:
    explicit image_arena(const image_memory& memory) : memory_(memory) {}
    image_arena(const image_arena&) = delete;
    image_arena& operator=(const image_arena&) = delete;
    ~image_arena();
    void* allocate(std::size_t bytes, std::size_t alignment);

private:
    struct run {
        void* start;
        std::size_t bytes;
    };
    const image_memory& memory_;
    std::vector<run> runs_;
    std::uintptr_t next_ = 0, end_ = 0;
    std::size_t next_run_ = 64 * 1024;
};

struct reg_image {
    explicit reg_image(const image_memory& memory = heap_memory) : arena(memory) {}
    image_arena arena;
    image_key hklm;
    // The key whose string values name the ports that exist now, as
    // GetDefaultCommConfigW finds them; null when there is none.
    const image_key* port_map = nullptr;
};

// Where Windows keeps its device nodes, each an instance key named by its
// instance ID (USB\VID_vvvv&PID_pppp\INSTANCE) below it.
inline constexpr const WCHAR* DEVICE_TREE_PATH = TEXT("SYSTEM\\CurrentControlSet\\Enum");

// Where Windows keeps a device node's property below its instance key,
// Properties\{fmtid}\PPPP (the property's number in four hex digits), as
// the default value of type 0xFFFF0000 | DEVPROPTYPE.
wtext property_path(const DEVPROPKEY& key);
inline constexpr DWORD property_value_type(DEVPROPTYPE type) { return 0xFFFF0000u | type; }

// Makes `image` the registry the calls serve; every key still open is
// closed. Until the first image, the registry is empty.
void serve_image(std::unique_ptr<reg_image> image);

// The subkey of `key` called `name` (without regard to case), or null.
const image_key* find_subkey(const image_key& key, wview name);

// The key at the backslash-separated `path` below `key`, or null.
const image_key* find_key(const image_key& key, wview path);

// The value of `key` called `name` (without regard to case), or none.
std::optional<image_value> find_value(const image_key& key, wview name);

// `count` default-made objects in `image`'s arena.
template <typename T>
std::span<T> image_array(reg_image& image, std::size_t count) {
    T* items = static_cast<T*>(image.arena.allocate(sizeof(T) * count, alignof(T)));
    for (std::size_t i = 0; i < count; ++i) new (items + i) T{};
    return {items, count};
}

// A copy of `items` in `image`'s arena.
template <typename T>
std::span<const T> image_copy(reg_image& image, std::span<const T> items) {
    const std::span<T> kept = image_array<T>(image, items.size());
    std::copy(items.begin(), items.end(), kept.begin());
    return kept;
}

// `prefix` and then UTF-8 `text`, in `image`'s arena with a terminator
// after them.
wview keep_text(reg_image& image, wview prefix, std::string_view text = {});

// The data of a REG_SZ value holding `text`, which a terminator follows and
// which lives as long as `image` (static text, or text it keeps): the text
// itself where the machine stores text as UTF-16LE, else a copy.
std::span<const BYTE> string_data(reg_image& image, wview text);

// The data of a REG_SZ value holding `text`: its UTF-16LE bytes and a
// terminator, copied into `image`'s arena.
std::span<const BYTE> copy_string_data(reg_image& image, wview text);
