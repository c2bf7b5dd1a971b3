#include "linux/store.h"

wtext fold_name(wview name) {
    wtext folded(name);
    for (WCHAR& c : folded) {
        const bool ascii = c >= u'a' && c <= u'z';
        const bool latin1 = c >= 0xE0 && c <= 0xFE && c != 0xF7;
        const bool greek = c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2;
        const bool cyrillic = c >= 0x430 && c <= 0x44F;
        if (ascii || latin1 || greek || cyrillic) c = static_cast<WCHAR>(c - 0x20);
        else if (c >= 0x450 && c <= 0x45F) c = static_cast<WCHAR>(c - 0x50);
    }
    return folded;
}

reg_key* find_child(reg_key& parent, wview name) {
    const auto it = parent.children.find(fold_name(name));
    return it == parent.children.end() ? nullptr : it->second.get();
}

reg_key& child(reg_key& parent, wview name) {
    auto& slot = parent.children[fold_name(name)];
    if (!slot) {
        slot = std::make_unique<reg_key>();
        slot->name = wtext(name);
    }
    return *slot;
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

void set_string(reg_key& key, wview name, wview text) {
    reg_value& value = key.values[fold_name(name)];
    if (value.name.empty()) value.name = wtext(name);
    value.type = REG_SZ;
    value.data = string_bytes(text);
}
