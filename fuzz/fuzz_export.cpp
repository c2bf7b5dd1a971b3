// The registry-export reader, two ways. From raw bytes (an even first
// byte): it must refuse or accept without crashing, what it accepts must
// hold only names Windows allows, each key's subkeys in order and unique,
// and read a piece at a time it must come to the same verdict and the same
// image. From operations (an odd first byte): sections, deleted keys,
// values set and deleted, repeated to sizes of tens of thousands of
// lines, written as an export and read; the image must be the one a small
// model of the merge rules makes of the same operations.
#include "export/regexport.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

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

// --- The model --------------------------------------------------------------

// Names that fold in pairs, ASCII and not.
const char* const key_names[] = {"a", "A", "b", "B", "\xC4\x81", "\xC4\x80", "k", "K"};
const char* const value_names[] = {"x", "X", "\xC5\x93", "\xC5\x92"};

struct model_value {
    std::u16string name;  // as first written
    DWORD type;
    std::vector<BYTE> data;
};

struct model_key {
    std::map<std::u16string, std::pair<std::u16string, model_key>> children;  // by folded name
    std::vector<model_value> values;
};

std::u16string folded(std::u16string_view name) {
    std::u16string out(name);
    for (char16_t& c : out) c = registry_fold(c);
    return out;
}

bool matches(const image_key& key, const model_key& model) {
    if (key.children.size() != model.children.size() || key.values.size() != model.values.size()) return false;
    std::size_t i = 0;
    for (const auto& [fold, child] : model.children) {
        const image_key& got = key.children[i++];
        if (got.name != child.first || !matches(got, child.second)) return false;
    }
    for (std::size_t v = 0; v < model.values.size(); ++v) {
        const image_value& got = key.values[v];
        const model_value& want = model.values[v];
        if (got.name != want.name || got.type != want.type ||
            !std::equal(got.data.begin(), got.data.end(), want.data.begin(), want.data.end()))
            return false;
    }
    return true;
}

// Runs the operations the bytes give on the model while writing them as an
// export; then reads the export and compares.
void check_model(std::string_view ops) {
    model_key root;
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    model_key* current = nullptr;
    std::vector<std::string> lines;  // the operations written so far, for repeats
    std::size_t done = 0;
    const auto run = [&](auto&& self, std::string_view op, int depth) -> void {
        if (++done > 20000 || op.size() < 3) return;
        const auto a = static_cast<unsigned char>(op[1]), b = static_cast<unsigned char>(op[2]);
        std::vector<const char*> path;
        for (int i = 0; i <= a % 3; ++i) path.push_back(key_names[(a >> (2 * i)) % 8]);
        std::string written = "HKEY_LOCAL_MACHINE";
        for (const char* name : path) written += std::string("\\") + name;
        switch (static_cast<unsigned char>(op[0]) % 5) {
            case 0: {  // a section
                text += "[" + written + "]\r\n";
                current = &root;
                for (const char* name : path) {
                    const std::u16string wide = from_utf8(name);
                    current = &current->children.try_emplace(folded(wide), wide, model_key{}).first->second.second;
                }
                break;
            }
            case 1: {  // a deleted key
                text += "[-" + written + "]\r\n";
                current = nullptr;
                model_key* parent = &root;
                for (std::size_t i = 0; parent && i + 1 < path.size(); ++i) {
                    const auto it = parent->children.find(folded(from_utf8(path[i])));
                    parent = it == parent->children.end() ? nullptr : &it->second.second;
                }
                if (parent) parent->children.erase(folded(from_utf8(path.back())));
                break;
            }
            case 2:
            case 3: {  // a value set, as a string or a dword, or deleted
                if (!current && text.find('[') == std::string::npos) break;  // no section yet
                const std::string written_name = value_names[b % 4] + std::to_string(a % 16);
                const std::u16string name = from_utf8(written_name);
                const bool remove = b & 4, dword = b & 8;
                const std::string data = std::to_string(b >> 4);
                text += "\"" + written_name + "\"=" + (remove ? "-" : dword ? "dword:" + data : "\"" + data + "\"") + "\r\n";
                if (!current) break;
                auto it = std::find_if(current->values.begin(), current->values.end(),
                                       [&](const model_value& v) { return folded(v.name) == folded(name); });
                if (remove) {
                    if (it != current->values.end()) current->values.erase(it);
                    break;
                }
                std::vector<BYTE> bytes;
                if (dword) {
                    const unsigned n = static_cast<unsigned>(std::stoul(data, nullptr, 16));
                    bytes = {static_cast<BYTE>(n), static_cast<BYTE>(n >> 8), 0, 0};
                } else {
                    for (const char c : data) bytes.insert(bytes.end(), {static_cast<BYTE>(c), 0});
                    bytes.insert(bytes.end(), {0, 0});
                }
                if (it == current->values.end())
                    current->values.push_back({name, dword ? DWORD{REG_DWORD} : DWORD{REG_SZ}, bytes});
                else
                    *it = {it->name, dword ? DWORD{REG_DWORD} : DWORD{REG_SZ}, bytes};
                break;
            }
            case 4: {  // the last (a % 8 + 1) operations again, (b + 1) * 8 times
                if (depth > 0) break;
                const std::size_t count = std::min<std::size_t>(a % 8 + 1, lines.size());
                const std::vector<std::string> last(lines.end() - static_cast<std::ptrdiff_t>(count), lines.end());
                for (int round = 0; round < (b + 1) * 8; ++round)
                    for (const std::string& again : last) self(self, again, depth + 1);
                return;
            }
        }
        if (depth == 0) lines.emplace_back(op);
    };
    for (std::size_t at = 1; at + 3 <= ops.size(); at += 3) run(run, ops.substr(at, 3), 0);
    reg_image image;
    const auto error = read_export(text, image);
    if (error || !matches(image.hklm, root)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (size && data[0] % 2) {
        check_model(bytes);
        return 0;
    }
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
