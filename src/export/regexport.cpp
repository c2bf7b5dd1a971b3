#include "export/regexport.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

constexpr std::uint32_t no_key = UINT32_MAX;

// A key as the export builds it: its subkeys a list, its values one run in
// the image's arena with room to grow (moved, with twice the room, when it
// is full and no longer the last run placed). A deleted value stays in its
// place, marked, until the deleted ones outnumber the others.
struct build_key {
    wview name;
    std::uint32_t parent = no_key;
    std::uint32_t first_child = no_key, next_sibling = no_key;
    std::uint32_t child_count = 0;  // deleted ones too
    image_value* values = nullptr;
    std::uint32_t value_count = 0;  // places used, deleted values too
    std::uint32_t value_room = 0;
    std::uint32_t deleted_values = 0;
    bool deleted = false;
    bool every_value = false;  // keeps all its values, whatever their names
};

// The name a deleted value's place carries until the run is compacted.
const WCHAR deleted_value_mark = 0;
bool is_deleted(const image_value& value) { return value.name.data() == &deleted_value_mark; }

// The keys by number, in blocks that stay where they are as more keys come:
// nothing is copied as the export grows.
struct key_store {
    static constexpr unsigned block_bits = 12;
    static constexpr std::uint32_t block_size = 1u << block_bits;
    std::vector<std::unique_ptr<build_key[]>> blocks;
    std::uint32_t count = 0;

    build_key& operator[](std::uint32_t id) { return blocks[id >> block_bits][id & (block_size - 1)]; }
    const build_key& operator[](std::uint32_t id) const { return blocks[id >> block_bits][id & (block_size - 1)]; }
    std::uint32_t size() const { return count; }
    build_key& emplace_back() {
        if (count % block_size == 0) blocks.push_back(std::make_unique<build_key[]>(block_size));
        return (*this)[count++];
    }
};

// A key with at most this many subkeys finds one by going through them;
// the subkeys of a key with more are found in the key table.
constexpr std::uint32_t listed_children = 8;

// The subkeys of keys with many, by their parent and their name, as the
// registry compares names: open addressing over the keys' numbers, each
// slot with its key's hash.
constexpr std::uint32_t removed_key = no_key - 1;
struct key_slot {
    std::uint64_t hash = 0;
    std::uint32_t key = no_key;  // no_key: never used; removed_key: its key was deleted
};
struct key_table {
    std::vector<key_slot> slots = std::vector<key_slot>(1024);
    std::size_t used = 0;  // slots ever filled
};

std::uint64_t key_hash(std::uint32_t parent, wview name) { return name_hash()(name) ^ parent * 0x9E3779B97F4A7C15u; }

// Value runs are placed in chunks of this many.
constexpr std::size_t values_per_chunk = 4096;

// Strings longer than this are kept as they come: few repeat.
constexpr std::size_t shared_string_units = 256;

// A key with this many places finds its values by a hash of their names
// rather than one by one (SERIALCOMM holds a value per port).
constexpr std::uint32_t indexed_from = 32;

// Where each value of a key is in its run, by name.
using value_index = std::unordered_map<wview, std::uint32_t, name_hash, name_equal>;

// Names as they are written, hashed with the run's key (text_hash).
struct exact_hash {
    std::size_t operator()(wview text) const { return text_hash(text); }
};

}  // namespace

struct export_reading {
    reg_image& image;
    key_store keys;  // HKEY_LOCAL_MACHINE first
    key_table children;
    // Value names, and string data no longer than shared_string_units, each
    // kept once in the arena: keys repeat their value names, and class GUIDs,
    // services and descriptions repeat from key to key.
    std::unordered_set<wview, exact_hash> texts;
    std::vector<wview> recent_names;        // the name last kept for each place in a key: keys repeat their names
    const value_choice* choice;             // the values kept; null: all
    std::vector<wview> every_value_path;    // the key whose values are all kept, split
    std::unordered_map<std::uint32_t, value_index> indexes;  // of the keys with many values
    std::span<image_value> chunk;           // where value runs are placed now
    std::size_t chunk_used = 0;

    std::string pending;         // the bytes of a line not yet whole
    std::size_t searched = 0;    // how many of them hold no line end
    bool stream = false;         // refused at a fault in a line still coming
    bool started = false;        // the byte-order mark has been looked at
    bool utf16 = false;
    bool ansi = false;           // a REGEDIT4 export: bytes that are not UTF-8 are Windows-1252
    std::size_t line = 0;        // the line last read, from 1
    bool header_read = false;
    std::uint32_t current = no_key;  // key of the section now open
    bool in_section = false;     // false until the first section
    // A hex list going on over lines that end in a backslash, and the line
    // it started on.
    bool continuing = false;
    std::size_t continued_from = 0;
    wtext joined;
    // The keys of the last section's path below HKEY_LOCAL_MACHINE, for the
    // next section to start from: sections mostly follow one another down.
    std::vector<std::uint32_t> path;
    wtext text;                  // the line being read
    wtext name, string;          // a value's name and text being read
    std::vector<BYTE> data;      // a value's bytes being read
    std::vector<wview> names;    // a section's key names

    export_reading(reg_image& into, const value_choice* kept, bool from_stream)
        : image(into), choice(kept), stream(from_stream) {
        keys.emplace_back();
        if (!kept || !kept->every_value_path) return;
        for (wview rest = kept->every_value_path; !rest.empty();) {
            const std::size_t next = rest.find(u'\\');
            every_value_path.push_back(rest.substr(0, next));
            rest = next == wview::npos ? wview() : rest.substr(next + 1);
        }
    }
};

namespace {

struct parse_failure {
    export_error error;
};

[[noreturn]] void malformed(const export_reading& st, std::string what) {
    throw parse_failure{.error = {.line = st.line, .what = std::move(what)}};
}

bool is_blank(WCHAR c) { return c == u' ' || c == u'\t'; }

wview trim(wview s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

// Parses 1 to `max_digits` hex digits making up all of `s`.
std::optional<std::uint32_t> hex_number(wview s, std::size_t max_digits) {
    if (s.empty() || s.size() > max_digits) return std::nullopt;
    std::uint32_t n = 0;
    for (WCHAR c : s) {
        const int d = hex_digit(c);
        if (d < 0) return std::nullopt;
        n = n * 16 + static_cast<std::uint32_t>(d);
    }
    return n;
}

// --- The keys and values -------------------------------------------------

// The slot of the key `name` under `parent`, or of the empty slot where it
// would go.
key_slot& slot_of(export_reading& st, std::uint32_t parent, wview name, std::uint64_t hash) {
    std::vector<key_slot>& slots = st.children.slots;
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        key_slot& slot = slots[i];
        if (slot.key == no_key) return slot;
        if (slot.key != removed_key && slot.hash == hash && st.keys[slot.key].parent == parent &&
            name_equal()(st.keys[slot.key].name, name))
            return slot;
    }
}

// Twice the slots, when half are used.
void grow_table(export_reading& st) {
    key_table& table = st.children;
    if (2 * (table.used + 1) <= table.slots.size()) return;
    std::vector<key_slot> old(table.slots.size() * 2);
    old.swap(table.slots);
    table.used = 0;
    const std::size_t mask = table.slots.size() - 1;
    for (const key_slot& slot : old) {
        if (slot.key == no_key || slot.key == removed_key) continue;
        std::size_t i = slot.hash & mask;
        while (table.slots[i].key != no_key) i = (i + 1) & mask;
        table.slots[i] = slot;
        ++table.used;
    }
}

void add_to_table(export_reading& st, std::uint32_t id) {
    grow_table(st);
    const build_key& key = st.keys[id];
    const std::uint64_t hash = key_hash(key.parent, key.name);
    slot_of(st, key.parent, key.name, hash) = key_slot{.hash = hash, .key = id};
    ++st.children.used;
}

// The slot in the key table, or among the subkeys, of the key `name`
// under `parent`: its number, or no_key.
std::uint32_t find_child(export_reading& st, std::uint32_t parent, wview name) {
    if (st.keys[parent].child_count > listed_children) return slot_of(st, parent, name, key_hash(parent, name)).key;
    for (std::uint32_t c = st.keys[parent].first_child; c != no_key; c = st.keys[c].next_sibling)
        if (!st.keys[c].deleted && name_equal()(st.keys[c].name, name)) return c;
    return no_key;
}

std::uint32_t child(export_reading& st, std::uint32_t parent, wview name) {
    if (const std::uint32_t found = find_child(st, parent, name); found != no_key) return found;
    const auto id = static_cast<std::uint32_t>(st.keys.size());
    build_key& key = st.keys.emplace_back();
    key.name = keep_text(st.image, name);
    key.parent = parent;
    build_key& up = st.keys[parent];
    key.next_sibling = up.first_child;
    up.first_child = id;
    // Past the few, every subkey of the key is in the table.
    if (++up.child_count == listed_children + 1) {
        for (std::uint32_t c = up.first_child; c != no_key; c = st.keys[c].next_sibling)
            if (!st.keys[c].deleted) add_to_table(st, c);
    } else if (up.child_count > listed_children + 1) {
        add_to_table(st, id);
    }
    return id;
}

void remove_child(export_reading& st, std::uint32_t parent, wview name) {
    const std::uint32_t found = find_child(st, parent, name);
    if (found == no_key) return;
    st.keys[found].deleted = true;
    if (st.keys[parent].child_count > listed_children)
        slot_of(st, parent, name, key_hash(parent, name)).key = removed_key;
}

// Room for one more value in the run of `key`, at its end.
image_value& value_slot(export_reading& st, build_key& key) {
    if (key.value_count < key.value_room) return key.values[key.value_count++];
    const bool last = key.values && key.values + key.value_room == st.chunk.data() + st.chunk_used;
    if (last && st.chunk_used < st.chunk.size()) {
        // The run placed last grows in place: a section's values mostly come together.
        ++st.chunk_used;
        ++key.value_room;
        return key.values[key.value_count++];
    }
    const std::size_t room = std::max<std::size_t>(4, 2 * std::size_t{key.value_count});
    if (st.chunk.size() - st.chunk_used < room) {
        st.chunk = image_array<image_value>(st.image, std::max(values_per_chunk, room));
        st.chunk_used = 0;
    }
    image_value* moved = st.chunk.data() + st.chunk_used;
    std::copy(key.values, key.values + key.value_count, moved);
    key.values = moved;
    key.value_room = static_cast<std::uint32_t>(room);
    st.chunk_used += room;
    return key.values[key.value_count++];
}

// The index of the current key's values, made once it has many places;
// null while it has few.
value_index* index_of(export_reading& st) {
    const build_key& key = st.keys[st.current];
    if (key.value_count < indexed_from) return nullptr;
    auto [it, made] = st.indexes.try_emplace(st.current);
    if (made)
        for (std::uint32_t i = 0; i < key.value_count; ++i)
            if (!is_deleted(key.values[i])) it->second.emplace(key.values[i].name, i);
    return &it->second;
}

image_value* value_named(export_reading& st, wview name) {
    build_key& key = st.keys[st.current];
    if (value_index* index = index_of(st)) {
        const auto it = index->find(name);
        return it == index->end() ? nullptr : key.values + it->second;
    }
    for (image_value* value = key.values; value != key.values + key.value_count; ++value)
        if (!is_deleted(*value) && name_equal()(value->name, name)) return value;
    return nullptr;
}

// `text` as kept once in the arena (texts).
wview kept_once(export_reading& st, wview text) {
    auto known = st.texts.find(text);
    if (known == st.texts.end()) known = st.texts.insert(keep_text(st.image, text)).first;
    return *known;
}

// The data of a string value holding `text`: shared with earlier values
// holding the same text, unless it is long.
std::span<const BYTE> string_value(export_reading& st, wview text) {
    if (text.size() > shared_string_units) return copy_string_data(st.image, text);
    return string_data(st.image, kept_once(st, text));
}

// Whether the current key keeps a value called `name`: every value when
// the reading keeps all, or the key is the one whose values are all kept;
// else only the names chosen.
bool keeps(const export_reading& st, wview name) {
    if (!st.choice || st.keys[st.current].every_value) return true;
    for (const WCHAR* kept : st.choice->value_names)
        if (name_equal()(name, kept)) return true;
    return false;
}

// Stores a value as `name`, in place of any value of that name (whose name
// stays as first written).
void set_value(export_reading& st, wview name, DWORD type, std::span<const BYTE> data) {
    build_key& key = st.keys[st.current];
    image_value* value = value_named(st, name);
    if (!value) {
        value = &value_slot(st, key);
        const std::size_t place = key.value_count - 1;
        if (place >= st.recent_names.size()) st.recent_names.resize(place + 1);
        if (st.recent_names[place] != name) st.recent_names[place] = kept_once(st, name);
        value->name = st.recent_names[place];
        if (value_index* index = key.value_count > indexed_from ? index_of(st) : nullptr)
            index->emplace(value->name, key.value_count - 1);
    }
    value->type = type;
    value->data = data;
}

// Drops the deleted values' places from key `id`'s run, keeping the
// others' order.
void compact_values(export_reading& st, std::uint32_t id) {
    build_key& key = st.keys[id];
    image_value* kept = std::remove_if(key.values, key.values + key.value_count, is_deleted);
    key.value_count = static_cast<std::uint32_t>(kept - key.values);
    key.deleted_values = 0;
    st.indexes.erase(id);  // made again, from the places now, when next asked
}

void delete_value(export_reading& st, wview name) {
    build_key& key = st.keys[st.current];
    image_value* value = value_named(st, name);
    if (!value) return;
    if (const auto index = st.indexes.find(st.current); index != st.indexes.end()) index->second.erase(name);
    value->name = wview(&deleted_value_mark, 0);
    // Compacted once the deleted outnumber the rest: each deletion costs
    // little, and the room is given back.
    if (++key.deleted_values > indexed_from && 2 * key.deleted_values > key.value_count) compact_values(st, st.current);
}

// The image of key `id`, its subkeys sorted as the registry enumerates them.
void image_into(export_reading& st, std::uint32_t id, image_key& out) {
    const build_key& key = st.keys[id];
    std::size_t count = 0;
    for (std::uint32_t c = key.first_child; c != no_key; c = st.keys[c].next_sibling) count += !st.keys[c].deleted;
    const auto children = image_array<image_key>(st.image, count);
    std::size_t i = 0;
    for (std::uint32_t c = key.first_child; c != no_key; c = st.keys[c].next_sibling) {
        if (st.keys[c].deleted) continue;
        children[i].name = st.keys[c].name;
        image_into(st, c, children[i++]);
    }
    std::sort(children.begin(), children.end(),
              [](const image_key& a, const image_key& b) { return name_less()(a.name, b.name); });
    out.children = children;
    if (key.deleted_values) compact_values(st, id);
    out.values = {key.values, key.value_count};
}

// --- The lines -------------------------------------------------------------

// A quoted string at the start of `s`, with \\ and \" escapes, into `out`;
// `s` is left after the closing quote.
void read_quoted(const export_reading& st, wview& s, wtext& out) {
    out.clear();
    for (std::size_t i = 1; i < s.size(); ++i) {
        // Characters that stand as themselves go in runs.
        std::size_t plain = i;
        while (plain < s.size() && s[plain] != u'"' && s[plain] != u'\\') ++plain;
        out.append(s.substr(i, plain - i));
        i = plain;
        if (i == s.size()) break;
        if (s[i] == u'"') {
            s.remove_prefix(i + 1);
            return;
        }
        if (i + 1 < s.size() && (s[i + 1] == u'\\' || s[i + 1] == u'"')) ++i;
        out += s[i];
    }
    malformed(st, "a quoted string has no closing quote");
}

// The bytes of a hex list, "hh,hh,...", into `st.data`: each between
// commas one or two hex digits, blanks around them; a comma may end it.
void hex_bytes(export_reading& st, wview list) {
    // Each byte takes a digit and, but for the last, a comma.
    st.data.resize(list.size() / 2 + 1);
    BYTE* out = st.data.data();
    const auto refuse_list = [&] { malformed(st, "a hex byte list holds something other than two-digit hex bytes"); };
    const std::size_t end = list.size();
    std::size_t i = 0;
    const auto skip_blanks = [&] {
        while (i < end && is_blank(list[i])) ++i;
    };
    // Most lists are written "hh,hh,...": three characters a byte.
    for (int high, low; i + 3 <= end && (high = hex_digit(list[i])) >= 0 && (low = hex_digit(list[i + 1])) >= 0 &&
                        list[i + 2] == u',';
         i += 3)
        *out++ = static_cast<BYTE>(high * 16 + low);
    skip_blanks();
    while (i < end) {
        const int high = hex_digit(list[i]);
        if (high < 0) refuse_list();
        int byte = high;
        if (++i < end) {
            if (const int low = hex_digit(list[i]); low >= 0) {
                byte = high * 16 + low;
                ++i;
            }
        }
        *out++ = static_cast<BYTE>(byte);
        skip_blanks();
        if (i == end) break;
        if (list[i] != u',') refuse_list();
        ++i;
        skip_blanks();
    }
    st.data.resize(static_cast<std::size_t>(out - st.data.data()));
}

// Reads a value's data and stores it as `name` in the current key, when
// there is one (not a deleted key's, nor under another root) and it keeps
// the value; the data is checked all the same.
void parse_data(export_reading& st, wview name, wview data) {
    const bool kept = st.current != no_key && keeps(st, name);
    DWORD type = REG_NONE;
    if (!data.empty() && data.front() == u'"') {
        wview rest = data;
        read_quoted(st, rest, st.string);
        if (!trim(rest).empty()) malformed(st, "text follows the closing quote of a string value");
        if (kept) set_value(st, name, REG_SZ, string_value(st, st.string));
        return;
    }
    if (ascii_starts_nocase(data, TEXT("dword:"))) {
        const auto n = hex_number(trim(data.substr(6)), 8);
        if (!n) malformed(st, "a dword value needs 1 to 8 hex digits");
        type = REG_DWORD;
        st.data = {static_cast<BYTE>(*n), static_cast<BYTE>(*n >> 8), static_cast<BYTE>(*n >> 16),
                   static_cast<BYTE>(*n >> 24)};
    } else if (ascii_starts_nocase(data, TEXT("hex:"))) {
        type = REG_BINARY;
        hex_bytes(st, data.substr(4));
    } else if (ascii_starts_nocase(data, TEXT("hex("))) {
        const std::size_t close = data.find(TEXT("):"));
        const auto number = close == wview::npos ? std::nullopt : hex_number(data.substr(4, close - 4), 8);
        if (!number) malformed(st, "a hex(N) type needs 1 to 8 hex digits and \"):\"");
        type = *number;
        hex_bytes(st, data.substr(close + 2));
    } else {
        malformed(st, "value data must be a quoted string, dword:, hex: or hex(N):, or - to delete");
    }
    if (kept) set_value(st, name, type, image_copy(st.image, std::span<const BYTE>(st.data)));
}

// A value line's name, into `st.name` (empty for @), and its data: what
// follows the = sign, without the blanks around it.
wview value_parts(export_reading& st, wview line) {
    if (!st.in_section) malformed(st, "a value comes before the first [key] section");
    wtext& name = st.name;
    name.clear();
    wview rest = line;
    if (rest.front() == u'@') {
        rest.remove_prefix(1);
    } else {
        read_quoted(st, rest, name);
        if (name.size() > max_value_name) malformed(st, "a value name is longer than 16383 characters");
    }
    rest = trim(rest);
    if (rest.empty() || rest.front() != u'=') malformed(st, "a value name must be followed by =");
    return trim(rest.substr(1));
}

void parse_value(export_reading& st, wview line) {
    const wview data = value_parts(st, line);
    if (data == TEXT("-")) {
        if (st.current != no_key) delete_value(st, st.name);
        return;
    }
    parse_data(st, st.name, data);
}

// HKEY_LOCAL_MACHINE (true) or another root (false); any other name is refused.
bool local_root(const export_reading& st, wview root) {
    static const std::array<const WCHAR*, 2> local = {TEXT("HKEY_LOCAL_MACHINE"), TEXT("HKLM")};
    static const std::array<const WCHAR*, 8> others = {TEXT("HKEY_CURRENT_USER"), TEXT("HKCU"),
                                                       TEXT("HKEY_CLASSES_ROOT"), TEXT("HKCR"),
                                                       TEXT("HKEY_USERS"),        TEXT("HKU"),
                                                       TEXT("HKEY_CURRENT_CONFIG"), TEXT("HKCC")};
    for (const WCHAR* name : local)
        if (ascii_equal_nocase(root, name)) return true;
    for (const WCHAR* name : others)
        if (ascii_equal_nocase(root, name)) return false;
    malformed(st, "a section does not start with a registry root such as HKEY_LOCAL_MACHINE");
}

void parse_section(export_reading& st, wview line) {
    if (line.back() != u']') malformed(st, "a [key] section has no closing ]");
    wview path = line.substr(1, line.size() - 2);
    const bool remove = !path.empty() && path.front() == u'-';
    if (remove) path.remove_prefix(1);
    const std::size_t slash = path.find(u'\\');
    const bool local = local_root(st, path.substr(0, slash));
    st.in_section = true;
    // Split the path first: the limits are checked before anything changes.
    std::vector<wview>& names = st.names;
    names.clear();
    for (wview rest = slash == wview::npos ? wview() : path.substr(slash + 1); !rest.empty();) {
        const std::size_t next = rest.find(u'\\');
        const wview name = rest.substr(0, next);
        if (name.empty()) malformed(st, "a key path has an empty key name");
        if (name.size() > max_key_name) malformed(st, "a key name is longer than 255 characters");
        names.push_back(name);
        if (names.size() > max_key_depth) malformed(st, "a key path is deeper than 512 levels");
        rest = next == wview::npos ? wview() : rest.substr(next + 1);
    }
    if (remove) {
        if (names.empty()) malformed(st, "a registry root cannot be deleted");
        st.current = no_key;
        st.path.clear();
        if (!local) return;
        std::uint32_t parent = 0;
        for (std::size_t i = 0; parent != no_key && i + 1 < names.size(); ++i) parent = find_child(st, parent, names[i]);
        if (parent != no_key) remove_child(st, parent, names.back());
        return;
    }
    if (!local) {
        st.current = no_key;
        st.path.clear();
        return;
    }
    std::size_t shared = 0;
    while (shared < names.size() && shared < st.path.size() && st.keys[st.path[shared]].name == names[shared]) ++shared;
    st.path.resize(shared);
    std::uint32_t key = shared ? st.path.back() : 0;
    for (std::size_t i = shared; i < names.size(); ++i) st.path.push_back(key = child(st, key, names[i]));
    st.current = key;
    if (!st.every_value_path.empty() && names.size() == st.every_value_path.size() &&
        std::equal(names.begin(), names.end(), st.every_value_path.begin(), name_equal()))
        st.keys[key].every_value = true;
}

// Whether `text` holds a NUL character, looked for four units at a time.
bool holds_nul(wview text) {
    std::size_t i = 0;
    for (std::uint64_t units; i + 4 <= text.size(); i += 4) {
        std::memcpy(&units, text.data() + i, sizeof units);
        if ((units - 0x0001000100010001u) & ~units & 0x8000800080008000u) return true;
    }
    for (; i < text.size(); ++i)
        if (text[i] == 0) return true;
    return false;
}

// U+FEFF, as a UTF-16LE or UTF-8 byte-order mark reads.
constexpr WCHAR byte_order_mark = 0xFEFF;

// regedit's older header, of an export in the ANSI code page.
constexpr wview regedit4 = TEXT("REGEDIT4");
constexpr wview headers[] = {TEXT("Windows Registry Editor Version 5.00"), regedit4};

bool is_header(wview line) {
    for (const wview header : headers)
        if (line == header) return true;
    return false;
}

[[noreturn]] void refuse_header(export_reading& st) {
    st.line = 1;
    malformed(st, "the first line is not \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\"");
}

// Whether `line`, the bytes of the first line so far (past the byte-order
// mark), can still become a header.
bool could_be_header(const export_reading& st, std::string_view line) {
    wtext text = st.utf16 ? from_utf16le(line) : from_utf8(line);
    if (!text.empty() && text.back() == u'\r') text.pop_back();
    const wview trimmed = trim(text);
    for (const wview header : headers)
        if (header.starts_with(trimmed)) return true;
    return false;
}

// Whether a value line's data is a hex list that goes on to the next line:
// hex: or hex(N): data ending in a backslash.
bool continues(export_reading& st, wview line) {
    if (line.back() != u'\\') return false;
    const wview data = value_parts(st, line);
    return ascii_starts_nocase(data, TEXT("hex:")) || ascii_starts_nocase(data, TEXT("hex("));
}

// One line after the header, without its line end.
void parse_line(export_reading& st, wview line) {
    line = trim(line);
    if (st.continuing) {
        // Hex lists go on over lines that end in a backslash.
        const bool again = !line.empty() && line.back() == u'\\';
        st.joined.append(again ? line.substr(0, line.size() - 1) : line);
        if (again) return;
        st.continuing = false;
        const std::size_t last_line = st.line;
        st.line = st.continued_from;
        parse_value(st, st.joined);
        st.line = last_line;
        return;
    }
    if (holds_nul(line)) malformed(st, "the line holds a NUL character");
    if (line.empty() || line.front() == u';') return;
    if (line.front() == u'[') {
        parse_section(st, line);
        return;
    }
    if (line.front() != u'"' && line.front() != u'@') {
        // Exports joined into one (copy /b a.reg+b.reg, cat): each further
        // one starts with its byte-order mark and header, and its keys merge
        // with those read so far, as reg import would merge them. Its header
        // says how its own bytes are read.
        const wview header = trim(line.front() == byte_order_mark ? line.substr(1) : line);
        if (!is_header(header)) malformed(st, "the line is neither a [key] section nor a value");
        st.ansi = !st.utf16 && header == regedit4;
        st.current = no_key;
        st.in_section = false;
        return;
    }
    if (continues(st, line)) {
        st.continuing = true;
        st.continued_from = st.line;
        st.joined.assign(line.substr(0, line.size() - 1));
        return;
    }
    parse_value(st, line);
}

// Whether `bytes`, a UTF-8 line, holds a NUL byte.
bool holds_nul_byte(std::string_view bytes) { return std::memchr(bytes.data(), 0, bytes.size()) != nullptr; }

// Refuses the line being read, `bytes` of it, which holds a NUL: as text
// that is not UTF-8 where those bytes are not, as the decoded line would be.
[[noreturn]] void refuse_nul_line(export_reading& st, std::string_view bytes) {
    if (!st.utf16 && !st.ansi && !valid_utf8(bytes)) malformed(st, "the text is not valid UTF-8");
    malformed(st, "the line holds a NUL character");
}

// Decodes the line `bytes` into `st.text` and reads it. UTF-16LE text on a
// machine that stores text so, suitably aligned, is read where it lies.
void read_line(export_reading& st, std::string_view bytes) {
    ++st.line;
    wview line;
    if (st.utf16 && std::endian::native == std::endian::little &&
        reinterpret_cast<std::uintptr_t>(bytes.data()) % alignof(WCHAR) == 0) {
        line = wview(reinterpret_cast<const WCHAR*>(bytes.data()), bytes.size() / 2);
    } else if (st.utf16) {
        st.text.clear();
        append_utf16le(st.text, bytes);
        line = st.text;
    } else if (st.header_read && !st.continuing && holds_nul_byte(bytes)) {
        // Refused without decoding it: such a line may be all of a huge file.
        refuse_nul_line(st, bytes);
    } else {
        bool valid = true;
        st.text = st.ansi ? from_utf8_or_1252(bytes) : from_utf8(bytes, &valid);
        if (!valid) malformed(st, "the text is not valid UTF-8");
        line = st.text;
    }
    if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
    if (st.header_read) {
        parse_line(st, line);
        return;
    }
    const wview header = trim(line);
    if (!is_header(header)) refuse_header(st);
    st.header_read = true;
    st.ansi = !st.utf16 && header == regedit4;
}

// Where the line that starts at `pos` ends (at its line feed), searched from
// `from`; bytes.size() when it does not end there. In UTF-16LE a line feed
// is "\n\0" at an even distance from the line's start.
std::size_t line_end(const export_reading& st, std::string_view bytes, std::size_t pos, std::size_t from) {
    if (!st.utf16) return std::min(bytes.find('\n', from), bytes.size());
    std::size_t end = from + (from - pos) % 2;
    while (end + 1 < bytes.size()) {
        const void* found = std::memchr(bytes.data() + end, '\n', bytes.size() - end);
        if (!found) break;
        end = static_cast<std::size_t>(static_cast<const char*>(found) - bytes.data());
        if ((end - pos) % 2 != 0) {
            ++end;  // not a character of its own: the search goes on from the next one
            continue;
        }
        if (end + 1 < bytes.size() && bytes[end + 1] == 0) return end;
        end += 2;
    }
    return bytes.size();
}

// `bytes` without an unfinished UTF-8 sequence at its end.
std::string_view whole_sequences(std::string_view bytes) {
    std::size_t end = bytes.size();
    for (std::size_t back = 0; back < 3 && end > 0 && (static_cast<unsigned char>(bytes[end - 1]) & 0xC0) == 0x80; ++back)
        --end;
    if (end > 0 && static_cast<unsigned char>(bytes[end - 1]) >= 0xC0) --end;
    return bytes.substr(0, end);
}

// Whether UTF-16LE `bytes`, from an even place, hold a NUL character.
bool holds_utf16_nul(std::string_view bytes) {
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        if (bytes[i] == 0 && bytes[i + 1] == 0) return true;
    return false;
}

// A stream is refused at the first fault in what has come of a line still
// coming, so that the rest is not held: a first line that can no longer be
// a header (looked at in its first 4 KiB, as blanks may pad a header
// without end), or a NUL character; either as text that is not UTF-8 when
// what has come is not. The first `seen` bytes of `line` were looked at
// before.
void check_coming_line(export_reading& st, std::string_view line, std::size_t seen) {
    const std::string_view start = line.substr(0, 4096);
    bool faulty = false;
    if (!st.header_read)
        faulty = seen < start.size() && !could_be_header(st, start);
    else if (!st.continuing)
        faulty = st.utf16 ? holds_utf16_nul(line.substr(seen)) : holds_nul_byte(line.substr(seen));
    if (!faulty) return;
    if (!st.header_read) {
        st.line = 1;
        if (!st.utf16 && !valid_utf8(whole_sequences(start))) malformed(st, "the text is not valid UTF-8");
        refuse_header(st);
    }
    ++st.line;
    refuse_nul_line(st, whole_sequences(line));
}

// Reads every whole line of `bytes`; the last one too when `last`. Returns
// how many bytes were read. The first `st.searched` bytes of a line still
// coming were searched for its end before.
std::size_t read_lines(export_reading& st, std::string_view bytes, bool last) {
    std::size_t pos = 0;
    if (!st.started) {
        if (bytes.size() < 3 && !last) return 0;
        pos = text_start(bytes, st.utf16);
        st.started = true;
    }
    while (pos < bytes.size()) {
        const std::size_t end = line_end(st, bytes, pos, pos + st.searched);
        if (end == bytes.size() && !last) {
            // Searched again only from here: a line that does not end is
            // not searched from its start at each read.
            const std::size_t seen = st.searched;
            st.searched = st.utf16 ? (bytes.size() - pos) & ~std::size_t{1} : bytes.size() - pos;
            if (st.stream) check_coming_line(st, bytes.substr(pos), seen);
            break;
        }
        st.searched = 0;
        const std::size_t size = end - pos;
        read_line(st, bytes.substr(pos, st.utf16 ? size - size % 2 : size));
        pos = std::min(end + (st.utf16 ? 2 : 1), bytes.size());
    }
    return pos;
}

void delete_reading(export_reading* reading) { delete reading; }

}  // namespace

std::size_t text_start(std::string_view bytes, bool& utf16) {
    utf16 = bytes.starts_with("\xFF\xFE");
    return utf16 ? 2 : bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
}

std::size_t utf16_lines(std::string_view bytes) {
    std::size_t lines = 1;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) lines += bytes[i] == '\n' && bytes[i + 1] == 0;
    return lines;
}

std::unique_ptr<export_reading, void (*)(export_reading*)> start_export(reg_image& image, const value_choice* kept,
                                                                      export_arrival arrival) {
    return {new export_reading(image, kept, arrival == export_arrival::stream), delete_reading};
}

std::optional<export_error> read_more(export_reading& reading, std::string_view bytes) {
    try {
        if (reading.pending.empty()) {
            const std::size_t read = read_lines(reading, bytes, false);
            reading.pending.assign(bytes.substr(read));
            return std::nullopt;
        }
        reading.pending.append(bytes);
        const std::size_t read = read_lines(reading, reading.pending, false);
        reading.pending.erase(0, read);
    } catch (const parse_failure& failure) {
        return failure.error;
    }
    return std::nullopt;
}

std::optional<export_error> finish_export(export_reading& reading) {
    try {
        // Every whole line of UTF-16 is of even size: an odd rest ends in
        // the middle of a character.
        if (reading.utf16 && reading.pending.size() % 2 != 0)
            throw parse_failure{.error = {.line = reading.line + 1,
                                          .what = "the file ends in the middle of a UTF-16 character"}};
        read_lines(reading, reading.pending, true);
        reading.pending.clear();
        if (!reading.header_read) refuse_header(reading);
        if (reading.continuing) malformed(reading, "the file ends inside a continued hex list");
    } catch (const parse_failure& failure) {
        return failure.error;
    }
    image_into(reading, 0, reading.image.hklm);
    return std::nullopt;
}

std::optional<export_error> read_export(std::string_view bytes, reg_image& image, const value_choice* kept) {
    bool utf16 = false;
    text_start(bytes, utf16);
    if (utf16 && bytes.size() % 2 != 0)
        return export_error{.line = utf16_lines(bytes), .what = "the file ends in the middle of a UTF-16 character"};
    const auto reading = start_export(image, kept);
    if (auto error = read_more(*reading, bytes)) return error;
    return finish_export(*reading);
}
