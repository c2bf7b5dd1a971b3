// The registry-export reader, from raw bytes: it must refuse or accept
// without crashing, and what it accepts must hold only names Windows allows.
#include "export/regexport.h"

#include <cstdlib>

namespace {

void check(const reg_key& key, std::size_t depth) {
    if (depth > max_key_depth + 1) std::abort();
    for (const auto& [name, child] : key.children) {
        if (name.empty() || name.size() > max_key_name) std::abort();
        if (name.find(u'\\') != wtext::npos) std::abort();
        check(*child, depth + 1);
    }
    for (const auto& [name, value] : key.values)
        if (name.size() > max_value_name) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    reg_key hklm;
    const auto error = read_export(std::string_view(reinterpret_cast<const char*>(data), size), hklm);
    if (error && (error->line == 0 || error->what.empty())) std::abort();
    if (!error) check(hklm, 0);
    return 0;
}
