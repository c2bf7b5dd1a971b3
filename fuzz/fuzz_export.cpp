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

struct model_key {
    std::map<std::u16string, std::pair<std::u16string, model_key>> children;  // by folded name: as first written
    std::vector<std::pair<std::u16string, image_value>> values;  // as first written; data in `data` below
    std::vector<std::vector<BYTE>> data;
};

std::u16string folded(std::string_view name) {
    std::u16string out = from_utf8(name);
    for (char16_t& c : out) c = registry_fold(c);
    return out;
}

bool matches(const image_key& key, const model_key& model) {
    if (key.children.size() != model.children.size() || key.values.size() != model.values.size()) return false;
    std::size_t i = 0;
    for (const auto& [fold, child] : model.children)
        if (key.children[i].name != child.first || !matches(key.children[i++], child.second)) return false;
    for (i = 0; i < model.values.size(); ++i) {
        const image_value& got = key.values[i];
        if (got.name != model.values[i].first || got.type != model.values[i].second.type ||
            !std::equal(got.data.begin(), got.data.end(), model.data[i].begin(), model.data[i].end()))
            return false;
    }
    return true;
}

// Runs the operations the bytes give, three bytes each, on the model while
// writing them as an export; then reads the export and compares.
void check_model(std::string_view ops) {
    model_key root;
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    model_key* current = nullptr;
    std::vector<std::string_view> done;  // the operations run, for repeats
    std::size_t count = 0;
    const auto run = [&](auto&& self, std::string_view op, bool again) -> void {
        if (++count > 20000) return;
        const unsigned kind = static_cast<unsigned char>(op[0]) % 5, a = static_cast<unsigned char>(op[1]),
                       b = static_cast<unsigned char>(op[2]);
        if (!again && kind != 4) done.push_back(op);
        std::string path = "HKEY_LOCAL_MACHINE";
        model_key *key = &root, *parent = nullptr;
        for (unsigned i = 0; i <= a % 3; ++i) {
            const char* name = key_names[(a >> (2 * i)) % 8];
            path += std::string("\\") + name;
            parent = key;
            // Made on the way for a section; for a deleted key, where it is not, nothing is.
            if (kind == 0) key = &key->children.try_emplace(folded(name), from_utf8(name), model_key{}).first->second.second;
            else if (key && key->children.count(folded(name))) key = &key->children[folded(name)].second;
            else key = nullptr;
            if (!key) break;
        }
        if (kind == 0) text += "[" + path + "]\r\n", current = key;
        if (kind == 1) {
            text += "[-" + path + "]\r\n", current = nullptr;
            if (key) parent->children.erase(folded(key_names[(a >> (2 * (a % 3))) % 8]));
        }
        if ((kind == 2 || kind == 3) && text.find('[') != std::string::npos) {
            // A value set as a string or a dword of one hex digit, or deleted.
            const std::string name = value_names[b % 4] + std::to_string(a % 16);
            const char digit = "0123456789abcdef"[b >> 4];
            const bool remove = b & 4, dword = b & 8;
            text += "\"" + name + "\"=" + (remove ? "-" : dword ? std::string("dword:") + digit : "\"" + std::string(1, digit) + "\"") + "\r\n";
            if (!current) return;
            auto& values = current->values;
            const auto it = std::find_if(values.begin(), values.end(), [&](const auto& v) { return name_equal()(v.first, from_utf8(name)); });
            const auto place = it - values.begin();
            if (remove && it != values.end()) values.erase(it), current->data.erase(current->data.begin() + place);
            if (remove) return;
            const BYTE first = dword ? static_cast<BYTE>(b >> 4) : static_cast<BYTE>(digit);
            if (it == values.end()) values.emplace_back(from_utf8(name), image_value{}), current->data.emplace_back();
            values[place].second.type = dword ? REG_DWORD : REG_SZ;
            current->data[place] = {first, 0, 0, 0};  // a dword's four bytes, or one UTF-16 unit and the terminator
        }
        if (kind == 4 && !again) {  // the last (a % 8 + 1) operations again, (b + 1) * 8 times
            const std::vector<std::string_view> last(done.end() - std::min<std::ptrdiff_t>(a % 8 + 1, std::ssize(done)), done.end());
            for (unsigned round = 0; round < (b + 1) * 8; ++round)
                for (const std::string_view repeat : last) self(self, repeat, true);
        }
    };
    for (std::size_t at = 1; at + 3 <= ops.size(); at += 3) run(run, ops.substr(at, 3), false);
    reg_image image;
    if (read_export(text, image) || !matches(image.hklm, root)) std::abort();
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
