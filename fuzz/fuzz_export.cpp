// The registry-export reader, from raw bytes: it must refuse or accept
// without crashing, what it accepts must hold only names Windows allows,
// each key's subkeys in order and unique, and read a piece at a time it
// must come to the same verdict and the same image.
#include "export/regexport.h"

#include <cstdlib>

namespace {

void check(const image_key& key, std::size_t depth) {
    if (depth > max_key_depth + 1) std::abort();
    for (std::size_t i = 0; i < key.children.size(); ++i) {
        const wview name = key.children[i].name;
        if (name.empty() || name.size() > max_key_name) std::abort();
        if (name.find(u'\\') != wtext::npos) std::abort();
        if (i && !name_less()(key.children[i - 1].name, name)) std::abort();
        check(key.children[i], depth + 1);
    }
    for (const image_value& value : key.values)
        if (value.name.size() > max_value_name) std::abort();
}

bool same(const image_key& a, const image_key& b) {
    if (a.name != b.name || a.children.size() != b.children.size() || a.values.size() != b.values.size()) return false;
    for (std::size_t i = 0; i < a.values.size(); ++i)
        if (a.values[i].name != b.values[i].name || a.values[i].type != b.values[i].type ||
            !std::equal(a.values[i].data.begin(), a.values[i].data.end(), b.values[i].data.begin(), b.values[i].data.end()))
            return false;
    for (std::size_t i = 0; i < a.children.size(); ++i)
        if (!same(a.children[i], b.children[i])) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    reg_image image;
    const auto error = read_export(bytes, image);
    if (error && (error->line == 0 || error->what.empty())) std::abort();
    if (!error) check(image.hklm, 0);
    // The same bytes in pieces of 1 to 7, as a file arrives in reads.
    bool utf16 = false;
    text_start(bytes, utf16);
    if (utf16 && size % 2) return 0;  // refused on its size before any piece is read
    reg_image pieced;
    const auto reading = start_export(pieced);
    std::optional<export_error> verdict;
    for (std::size_t at = 0, step = 1; at < size && !verdict; at += step, step = step % 7 + 1)
        verdict = read_more(*reading, bytes.substr(at, step));
    if (!verdict) verdict = finish_export(*reading);
    if (verdict.has_value() != error.has_value()) std::abort();
    if (error ? verdict->line != error->line || verdict->what != error->what : !same(image.hklm, pieced.hklm))
        std::abort();
    return 0;
}
