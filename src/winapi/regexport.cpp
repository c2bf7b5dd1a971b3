#include "winapi/regexport.h"

#include <array>

namespace {

struct parse_state {
    reg_key& hklm;
    std::string_view bytes;      // the export, decoded one line at a time
    bool utf16 = false;
    std::size_t pos = 0;         // where the next line starts in `bytes`
    std::size_t line = 0;        // the line last read, from 1
    reg_key other;               // keys under other roots: read, then dropped
    reg_key* current = nullptr;  // key of the section now open
    bool in_section = false;     // false until the first section
    // The keys of the last section's path below its root, for the next
    // section to start from: sections mostly follow one another down a tree.
    reg_key* path_root = nullptr;
    std::vector<std::pair<wtext, reg_key*>> path;
};

struct parse_failure {
    export_error error;
};

[[noreturn]] void refuse(const parse_state& st, std::string what) { throw parse_failure{{st.line, std::move(what)}}; }

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

// Reads the next line into `out`, without its line end, and counts it.
// False at the end of the export.
bool next_line(parse_state& st, wtext& out) {
    if (st.pos >= st.bytes.size()) return false;
    ++st.line;
    out.clear();
    if (st.utf16) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(st.bytes.data());
        std::size_t end = st.pos;
        while (end + 1 < st.bytes.size() && !(bytes[end] == '\n' && bytes[end + 1] == 0)) end += 2;
        out = from_utf16le(st.bytes.substr(st.pos, end - st.pos));
        st.pos = end + 2;
    } else {
        const std::size_t end = std::min(st.bytes.find('\n', st.pos), st.bytes.size());
        bool valid = true;
        out = from_utf8(st.bytes.substr(st.pos, end - st.pos), &valid);
        if (!valid) refuse(st, "the text is not valid UTF-8");
        st.pos = end + 1;
    }
    if (!out.empty() && out.back() == u'\r') out.pop_back();
    return true;
}

// A quoted string at the start of `s`, with \\ and \" escapes; `s` is left
// after the closing quote.
wtext quoted(parse_state& st, wview& s) {
    wtext out;
    for (std::size_t i = 1; i < s.size(); ++i) {
        if (s[i] == u'"') {
            s.remove_prefix(i + 1);
            return out;
        }
        if (s[i] == u'\\' && i + 1 < s.size() && (s[i + 1] == u'\\' || s[i + 1] == u'"')) ++i;
        out += s[i];
    }
    refuse(st, "a quoted string has no closing quote");
}

reg_bytes hex_bytes(parse_state& st, wview list) {
    reg_bytes out;
    out.reserve(list.size() / 3 + 1);
    list = trim(list);
    while (!list.empty()) {
        const std::size_t comma = list.find(u',');
        const wview item = trim(list.substr(0, comma));
        const auto byte = hex_number(item, 2);
        if (!byte) refuse(st, "a hex byte list holds something other than two-digit hex bytes");
        out.push_back(static_cast<BYTE>(*byte));
        if (comma == wview::npos) break;
        list = trim(list.substr(comma + 1));
    }
    return out;
}

void parse_data(parse_state& st, wview data, reg_value& value) {
    if (!data.empty() && data.front() == u'"') {
        wview rest = data;
        const wtext text = quoted(st, rest);
        if (!trim(rest).empty()) refuse(st, "text follows the closing quote of a string value");
        value.type = REG_SZ;
        value.data = string_bytes(text);
    } else if (starts_nocase(data, TEXT("dword:"))) {
        const auto n = hex_number(trim(data.substr(6)), 8);
        if (!n) refuse(st, "a dword value needs 1 to 8 hex digits");
        value.type = REG_DWORD;
        value.data = {static_cast<BYTE>(*n), static_cast<BYTE>(*n >> 8), static_cast<BYTE>(*n >> 16),
                      static_cast<BYTE>(*n >> 24)};
    } else if (starts_nocase(data, TEXT("hex:"))) {
        value.type = REG_BINARY;
        value.data = hex_bytes(st, data.substr(4));
    } else if (starts_nocase(data, TEXT("hex("))) {
        const std::size_t close = data.find(TEXT("):"));
        const auto type = close == wview::npos ? std::nullopt : hex_number(data.substr(4, close - 4), 8);
        if (!type) refuse(st, "a hex(N) type needs 1 to 8 hex digits and \"):\"");
        value.type = *type;
        value.data = hex_bytes(st, data.substr(close + 2));
    } else {
        refuse(st, "value data must be a quoted string, dword:, hex: or hex(N):, or - to delete");
    }
}

void parse_value(parse_state& st, wview line) {
    if (!st.in_section) refuse(st, "a value comes before the first [key] section");
    wtext name;
    wview rest = line;
    if (rest.front() == u'@') {
        rest.remove_prefix(1);
    } else {
        name = quoted(st, rest);
        if (name.size() > max_value_name) refuse(st, "a value name is longer than 16383 characters");
    }
    rest = trim(rest);
    if (rest.empty() || rest.front() != u'=') refuse(st, "a value name must be followed by =");
    rest = trim(rest.substr(1));
    if (!st.current) return;  // values of a deleted key are dropped
    if (rest == TEXT("-")) {
        const auto it = st.current->values.find(name);
        if (it != st.current->values.end()) st.current->values.erase(it);
        return;
    }
    reg_value value;
    parse_data(st, rest, value);
    set_value(*st.current, name, std::move(value));
}

reg_key* root_of(parse_state& st, wview root) {
    static const std::array<const WCHAR*, 2> local = {TEXT("HKEY_LOCAL_MACHINE"), TEXT("HKLM")};
    static const std::array<const WCHAR*, 8> others = {TEXT("HKEY_CURRENT_USER"), TEXT("HKCU"),
                                                       TEXT("HKEY_CLASSES_ROOT"), TEXT("HKCR"),
                                                       TEXT("HKEY_USERS"),        TEXT("HKU"),
                                                       TEXT("HKEY_CURRENT_CONFIG"), TEXT("HKCC")};
    for (const WCHAR* name : local)
        if (text_equal_nocase(root, name)) return &st.hklm;
    for (const WCHAR* name : others)
        if (text_equal_nocase(root, name)) return &st.other;
    refuse(st, "a section does not start with a registry root such as HKEY_LOCAL_MACHINE");
}

void parse_section(parse_state& st, wview line) {
    if (line.back() != u']') refuse(st, "a [key] section has no closing ]");
    wview path = line.substr(1, line.size() - 2);
    const bool remove = !path.empty() && path.front() == u'-';
    if (remove) path.remove_prefix(1);
    const std::size_t slash = path.find(u'\\');
    reg_key* const root = root_of(st, path.substr(0, slash));
    reg_key* key = root;
    st.in_section = true;
    // Split the path first: the limits are checked before anything changes.
    std::vector<wview> names;
    for (wview rest = slash == wview::npos ? wview() : path.substr(slash + 1); !rest.empty();) {
        const std::size_t next = rest.find(u'\\');
        const wview name = rest.substr(0, next);
        if (name.empty()) refuse(st, "a key path has an empty key name");
        if (name.size() > max_key_name) refuse(st, "a key name is longer than 255 characters");
        names.push_back(name);
        if (names.size() > max_key_depth) refuse(st, "a key path is deeper than 512 levels");
        rest = next == wview::npos ? wview() : rest.substr(next + 1);
    }
    if (remove) {
        if (names.empty()) refuse(st, "a registry root cannot be deleted");
        reg_key* parent = key;
        for (std::size_t i = 0; parent && i + 1 < names.size(); ++i) parent = find_child(*parent, names[i]);
        const auto it = parent ? parent->children.find(names.back()) : decltype(parent->children)::iterator();
        if (parent && it != parent->children.end()) parent->children.erase(it);
        st.current = nullptr;
        st.path_root = nullptr;
        st.path.clear();
        return;
    }
    std::size_t shared = 0;
    if (st.path_root == root)
        while (shared < names.size() && shared < st.path.size() && st.path[shared].first == names[shared]) ++shared;
    st.path.resize(shared);
    if (shared) key = st.path.back().second;
    for (std::size_t i = shared; i < names.size(); ++i) {
        key = &child(*key, names[i]);
        st.path.emplace_back(wtext(names[i]), key);
    }
    st.path_root = root;
    st.current = key;
}

// U+FEFF, as a UTF-16LE or UTF-8 byte-order mark reads.
constexpr WCHAR byte_order_mark = 0xFEFF;

constexpr const WCHAR* headers[] = {TEXT("Windows Registry Editor Version 5.00"), TEXT("REGEDIT4")};

bool is_header(wview line) {
    for (const WCHAR* header : headers)
        if (line == header) return true;
    return false;
}

void parse_lines(parse_state& st) {
    wtext raw, joined;
    if (!next_line(st, raw) || !is_header(trim(raw))) {
        st.line = 1;
        refuse(st, "the first line is not \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\"");
    }
    while (next_line(st, raw)) {
        wview line = trim(raw);
        if (line.find(u'\0') != wview::npos) refuse(st, "the line holds a NUL character");
        if (line.empty() || line.front() == u';') continue;
        // Exports joined into one (copy /b a.reg+b.reg, cat): each further
        // one starts with its byte-order mark and header, and its keys
        // merge with those read so far, as reg import would merge them.
        if (is_header(trim(line.front() == byte_order_mark ? line.substr(1) : line))) {
            st.current = nullptr;
            st.in_section = false;
            continue;
        }
        if (line.front() == u'[') {
            parse_section(st, line);
            continue;
        }
        if (line.front() != u'"' && line.front() != u'@') refuse(st, "the line is neither a [key] section nor a value");
        // Hex lists go on over lines that end in a backslash.
        const std::size_t first_line = st.line;
        if (line.back() == u'\\' && line.find(TEXT("=hex")) != wview::npos) {
            joined.assign(line.substr(0, line.size() - 1));
            wtext more_raw;
            for (;;) {
                if (!next_line(st, more_raw)) refuse(st, "the file ends inside a continued hex list");
                const wview more = trim(more_raw);
                const bool again = !more.empty() && more.back() == u'\\';
                joined.append(again ? more.substr(0, more.size() - 1) : more);
                if (!again) break;
            }
            line = joined;
        }
        const std::size_t last_line = st.line;
        st.line = first_line;
        parse_value(st, line);
        st.line = last_line;
    }
}

}  // namespace

std::size_t text_start(std::string_view bytes, bool& utf16) {
    utf16 = bytes.starts_with("\xFF\xFE");
    return utf16 ? 2 : bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
}

bool could_be_header(std::string_view line, bool utf16, bool complete) {
    wtext text = utf16 ? from_utf16le(line) : from_utf8(line);
    if (!text.empty() && text.back() == u'\r') text.pop_back();
    const wview trimmed = trim(text);
    for (const WCHAR* header : headers)
        if (complete ? trimmed == header : wview(header).starts_with(trimmed)) return true;
    return false;
}

std::optional<export_error> read_export(std::string_view bytes, reg_key& hklm) {
    parse_state st{hklm, bytes, false, 0, 0, {}, nullptr, false, nullptr, {}};
    st.pos = text_start(bytes, st.utf16);
    if (st.utf16 && bytes.size() % 2 != 0) {
        std::size_t lines = 1;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) lines += bytes[i] == '\n' && bytes[i + 1] == 0;
        return export_error{lines, "the file ends in the middle of a UTF-16 character"};
    }
    try {
        parse_lines(st);
    } catch (const parse_failure& failure) {
        return failure.error;
    }
    return std::nullopt;
}
