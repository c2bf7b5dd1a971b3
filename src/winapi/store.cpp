#include "winapi/store.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>

WCHAR fold_char(WCHAR c) {
    // ASCII first: nearly every name is.
    if (c < 0x80) return c >= u'a' && c <= u'z' ? static_cast<WCHAR>(c - 0x20) : c;
    const bool latin1 = c >= 0xE0 && c <= 0xFE && c != 0xF7;
    const bool greek = c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2;
    const bool cyrillic = c >= 0x430 && c <= 0x44F;
    if (latin1 || greek || cyrillic) return static_cast<WCHAR>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F) return static_cast<WCHAR>(c - 0x50);
    return c;
}

int name_order(wview a, wview b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = equal_prefix(a, b); i < common; ++i) {
        if (a[i] == b[i]) continue;
        const WCHAR x = fold_char(a[i]), y = fold_char(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size();
}

bool name_less::operator()(wview a, wview b) const { return name_order(a, b) < 0; }

std::size_t name_hash::operator()(wview name) const {
    std::size_t hash = 14695981039346656037u;
    for (const WCHAR c : name) hash = (hash ^ fold_char(c)) * 1099511628211u;
    return hash;
}

bool name_equal::operator()(wview a, wview b) const {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && fold_char(a[i]) != fold_char(b[i])) return false;
    return true;
}

void free_key::operator()(reg_key* key) const { reg_allocator(memory).delete_object(key); }

reg_key* find_child(reg_key& parent, wview name) {
    const auto it = parent.children.find(name);
    return it == parent.children.end() ? nullptr : it->second.get();
}

namespace {

// The entry of `map` called `name`, created from `make()` when missing; one
// descent of the tree either way. Names mostly come in order (an export as
// Windows writes it), so the last entry is tried first.
template <typename Map, typename Make>
typename Map::iterator find_or_add(Map& map, wview name, Make make) {
    if (!map.empty()) {
        const auto last = std::prev(map.end());
        if (map.key_comp()(last->first, name)) return map.emplace_hint(map.end(), name, make());
        if (!map.key_comp()(name, last->first)) return last;
    }
    auto it = map.lower_bound(name);
    if (it == map.end() || map.key_comp()(name, it->first)) it = map.emplace_hint(it, name, make());
    return it;
}

// Writes `text` and its terminator as UTF-16LE.
void put_string(reg_bytes& data, wview text) {
    data.resize((text.size() + 1) * 2);
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(data.data(), text.data(), text.size() * 2);
        data[2 * text.size()] = data[2 * text.size() + 1] = 0;
        return;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        data[2 * i] = static_cast<BYTE>(text[i] & 0xFF);
        data[2 * i + 1] = static_cast<BYTE>(text[i] >> 8);
    }
    data[2 * text.size()] = data[2 * text.size() + 1] = 0;
}

reg_value& value_of(reg_key& key, wview name) {
    return find_or_add(key.values, name, [] { return reg_value{}; })->second;
}

}  // namespace

reg_key& child(reg_key& parent, wview name) {
    const reg_allocator memory = parent.children.get_allocator();
    return *find_or_add(parent.children, name, [&] {
        return std::unique_ptr<reg_key, free_key>(reg_allocator(memory).new_object<reg_key>(), free_key{memory});
    })->second;
}

void set_value(reg_key& key, wview name, reg_value value) { value_of(key, name) = std::move(value); }

reg_bytes string_bytes(wview text) {
    reg_bytes data;
    put_string(data, text);
    return data;
}

