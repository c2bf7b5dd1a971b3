#include "winapi/image.h"

#include <algorithm>
#include <bit>

namespace {

// The image of `key` in `out`; names stay in the tree.
void image_into(reg_image& image, const reg_key& key, image_key& out) {
    const auto children = image_array<image_key>(image, key.children.size());
    std::size_t i = 0;
    for (const auto& [name, child] : key.children) {
        children[i].name = name;
        image_into(image, *child, children[i]);
        ++i;
    }
    out.children = children;
    out.source = &key;
}

}  // namespace

std::unique_ptr<reg_image> image_of(std::unique_ptr<reg_tree> tree) {
    auto image = std::make_unique<reg_image>();
    image_into(*image, tree->hklm, image->hklm);
    image->source = std::move(tree);
    return image;
}

const image_key* find_subkey(const image_key& key, wview name) {
    const auto it = std::lower_bound(key.children.begin(), key.children.end(), name,
                                     [](const image_key& child, wview n) { return name_less()(child.name, n); });
    return it != key.children.end() && !name_less()(name, it->name) ? &*it : nullptr;
}

std::optional<image_value> find_value(const image_key& key, wview name) {
    if (key.source) {
        const auto it = key.source->values.find(name);
        if (it == key.source->values.end()) return std::nullopt;
        return image_value{it->first, it->second.type, it->second.data};
    }
    for (const image_value& value : key.values)
        if (name_equal()(value.name, name)) return value;
    return std::nullopt;
}

std::vector<image_value> values_of(const image_key& key) {
    if (!key.source) return {key.values.begin(), key.values.end()};
    std::vector<image_value> values;
    for (const auto& [name, value] : key.source->values) values.push_back({name, value.type, value.data});
    return values;
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

std::span<const BYTE> string_data(reg_image& image, wview text) {
    const std::size_t size = (text.size() + 1) * 2;
    if constexpr (std::endian::native == std::endian::little) return {reinterpret_cast<const BYTE*>(text.data()), size};
    const reg_bytes bytes = string_bytes(text);
    const auto data = image_array<BYTE>(image, size);
    std::copy(bytes.begin(), bytes.end(), data.begin());
    return data;
}
