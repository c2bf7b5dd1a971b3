#include "linux/store.h"

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

wtext fold_name(wview name) {
    wtext folded(name);
    for (WCHAR& c : folded) c = fold_char(c);
    return folded;
}

bool name_less::operator()(wview a, wview b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](WCHAR x, WCHAR y) { return fold_char(x) < fold_char(y); });
}

reg_key* find_child(reg_key& parent, wview name) {
    const auto it = parent.children.find(name);
    return it == parent.children.end() ? nullptr : it->second.get();
}

reg_key& child(reg_key& parent, wview name) {
    auto it = parent.children.find(name);
    if (it == parent.children.end()) it = parent.children.emplace(wtext(name), std::make_unique<reg_key>()).first;
    return *it->second;
}

void set_value(reg_key& key, wview name, reg_value value) {
    const auto it = key.values.find(name);
    if (it == key.values.end()) key.values.emplace(wtext(name), std::move(value));
    else it->second = std::move(value);
}

std::vector<BYTE> string_bytes(wview text) {
    std::vector<BYTE> data;
    data.reserve((text.size() + 1) * 2);
    for (WCHAR c : text) {
        data.push_back(static_cast<BYTE>(c & 0xFF));
        data.push_back(static_cast<BYTE>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

void set_string(reg_key& key, wview name, wview text) { set_value(key, name, reg_value{REG_SZ, string_bytes(text)}); }
