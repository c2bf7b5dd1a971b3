#include "winapi/store.h"

#include <algorithm>

WCHAR fold_char(WCHAR c) {
    const bool ascii = c >= u'a' && c <= u'z';
    const bool latin1 = c >= 0xE0 && c <= 0xFE && c != 0xF7;
    const bool greek = c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2;
    const bool cyrillic = c >= 0x430 && c <= 0x44F;
    if (ascii || latin1 || greek || cyrillic) return static_cast<WCHAR>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F) return static_cast<WCHAR>(c - 0x50);
    return c;
}

bool name_less::operator()(wview a, wview b) const {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = equal_prefix(a, b); i < common; ++i) {
        if (a[i] == b[i]) continue;
        const WCHAR x = fold_char(a[i]), y = fold_char(b[i]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

reg_key* find_child(reg_key& parent, wview name) {
    const auto it = parent.children.find(name);
    return it == parent.children.end() ? nullptr : it->second.get();
}

namespace {

// The entry of `map` called `name`, created from `make()` when missing; one
// descent of the tree either way.
template <typename Map, typename Make>
typename Map::iterator find_or_add(Map& map, wview name, Make make) {
    auto it = map.lower_bound(name);
    if (it == map.end() || map.key_comp()(name, it->first)) it = map.emplace_hint(it, wtext(name), make());
    return it;
}

}  // namespace

reg_key& child(reg_key& parent, wview name) {
    return *find_or_add(parent.children, name, [] { return std::make_unique<reg_key>(); })->second;
}

void set_value(reg_key& key, wview name, reg_value value) {
    find_or_add(key.values, name, [] { return reg_value{}; })->second = std::move(value);
}

std::vector<BYTE> string_bytes(wview text) {
    std::vector<BYTE> data((text.size() + 1) * 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        data[2 * i] = static_cast<BYTE>(text[i] & 0xFF);
        data[2 * i + 1] = static_cast<BYTE>(text[i] >> 8);
    }
    return data;
}

void set_string(reg_key& key, wview name, wview text) { set_value(key, name, reg_value{REG_SZ, string_bytes(text)}); }
