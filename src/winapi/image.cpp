#include "winapi/image.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <new>
#include <string>

wtext property_path(const DEVPROPKEY& key) {
    constexpr char digits[] = "0123456789abcdef";
    std::string path = "Properties\\{";
    const auto hex = [&](unsigned long long value, int count) {
        for (int i = count - 1; i >= 0; --i) path += digits[value >> (4 * i) & 0xF];
    };
    const GUID& id = key.fmtid;
    hex(id.Data1, 8), path += '-', hex(id.Data2, 4), path += '-', hex(id.Data3, 4), path += '-';
    for (int i = 0; i < 8; ++i) hex(id.Data4[i], 2), path += i == 1 ? "-" : "";
    path += "}\\";
    hex(key.pid, 4);
    return from_utf8(path);
}

const image_key* find_subkey(const image_key& key, wview name) {
    const auto it = std::lower_bound(key.children.begin(), key.children.end(), name,
                                     [](const image_key& child, wview n) { return name_less()(child.name, n); });
    return it != key.children.end() && !name_less()(name, it->name) ? &*it : nullptr;
}

const image_key* find_key(const image_key& key, wview path) {
    const image_key* found = &key;
    while (found && !path.empty()) {
        const std::size_t slash = path.find(u'\\');
        found = find_subkey(*found, path.substr(0, slash));
        path = slash == wview::npos ? wview() : path.substr(slash + 1);
    }
    return found;
}

std::optional<image_value> find_value(const image_key& key, wview name) {
    for (const image_value& value : key.values)
        if (name_equal()(value.name, name)) return value;
    return std::nullopt;
}

wview keep_text(reg_image& image, wview prefix, std::string_view text) {
    // ASCII, most text, widens as it stands.
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    const wtext wide = ascii ? wtext() : from_utf8(text);
    const std::size_t size = prefix.size() + (ascii ? text.size() : wide.size());
    const auto kept = image_array<WCHAR>(image, size + 1);
    WCHAR* end = std::copy(prefix.begin(), prefix.end(), kept.data());
    if (ascii)
        std::copy(text.begin(), text.end(), end);
    else
        std::copy(wide.begin(), wide.end(), end);
    return {kept.data(), size};
}

std::span<const BYTE> copy_string_data(reg_image& image, wview text) {
    const auto data = image_array<BYTE>(image, (text.size() + 1) * 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        data[2 * i] = static_cast<BYTE>(text[i] & 0xFF);
        data[2 * i + 1] = static_cast<BYTE>(text[i] >> 8);
    }
    return data;
}

std::span<const BYTE> string_data(reg_image& image, wview text) {
    if constexpr (std::endian::native == std::endian::little)
        return {reinterpret_cast<const BYTE*>(text.data()), (text.size() + 1) * 2};
    return copy_string_data(image, text);
}

namespace {

void* heap_take(std::size_t bytes, std::size_t alignment) { return ::operator new(bytes, std::align_val_t(alignment)); }
void heap_give_back(void* run, std::size_t, std::size_t alignment) { ::operator delete(run, std::align_val_t(alignment)); }

}  // namespace

const image_memory heap_memory{.take = heap_take, .give_back = heap_give_back};

image_arena::~image_arena() {
    for (const run& taken : runs_) memory_.give_back(taken.start, taken.bytes, alignof(std::max_align_t));
}

void* image_arena::allocate(std::size_t bytes, std::size_t alignment) {
    std::uintptr_t at = (next_ + alignment - 1) & ~(std::uintptr_t{alignment} - 1);
    if (next_ == 0 || at + bytes > end_ || at < next_) {
        const std::size_t size = std::max(next_run_, bytes + alignment);
        void* start = memory_.take(size, alignof(std::max_align_t));
        runs_.push_back({start, size});
        next_run_ = size * 2;
        next_ = reinterpret_cast<std::uintptr_t>(start);
        end_ = next_ + size;
        at = (next_ + alignment - 1) & ~(std::uintptr_t{alignment} - 1);
    }
    next_ = at + bytes;
    return reinterpret_cast<void*>(at);
}
