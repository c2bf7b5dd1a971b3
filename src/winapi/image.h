// The registry as the Linux stand-in's calls serve it: read-only once made,
// each key's subkeys in one sorted array, so that enumerating is indexing
// and opening is a binary search. An export is read into a tree (store.h)
// and then its keys are imaged, their values read from the tree; the sysfs
// view is imaged directly, values and all.
#pragma once

#include "winapi/store.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <memory_resource>
#include <span>
#include <vector>

// Names and data are views into the image's arena, its source tree or
// static text.
struct image_value {
    wview name;
    DWORD type = REG_NONE;
    std::span<const BYTE> data;
};

struct image_key {
    wview name;
    std::span<const image_key> children;  // sorted as name_less orders names
    std::span<const image_value> values;  // in the order written; keys hold few
    const reg_key* source = nullptr;      // an export's key, which holds its values
};

struct reg_image {
    std::pmr::monotonic_buffer_resource arena;
    std::unique_ptr<reg_tree> source;  // the tree the image views, if any
    image_key hklm;
};

// The image of `tree`, which it keeps.
std::unique_ptr<reg_image> image_of(std::unique_ptr<reg_tree> tree);

// The subkey of `key` called `name` (without regard to case), or null.
const image_key* find_subkey(const image_key& key, wview name);

// The value of `key` called `name` (without regard to case), or none.
std::optional<image_value> find_value(const image_key& key, wview name);

// Every value of `key`.
std::vector<image_value> values_of(const image_key& key);

// `count` default-made objects in `image`'s arena.
template <typename T>
std::span<T> image_array(reg_image& image, std::size_t count) {
    T* items = std::pmr::polymorphic_allocator<T>(&image.arena).allocate(count);
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
