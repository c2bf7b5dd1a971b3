// Wide text: comparison without regard to case, hex digits, and UTF-8 and
// UTF-16 conversion, shared by every part of the program.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

using wtext = std::basic_string<WCHAR>;
using wview = std::basic_string_view<WCHAR>;

// Two case folds, each with its own rule. The ASCII one is the C runtime's
// in its default locale: the filters and the options compare with it. The
// registry's is Windows': key and value names compare with it.

// Equal without regard to ASCII case.
bool ascii_equal_nocase(wview a, wview b);

// True when `text` begins with `start`, without regard to ASCII case.
bool ascii_starts_nocase(wview text, wview start);

// How many UTF-16 units `a` and `b` begin with alike, compared four at a
// time: names share long prefixes (serial numbers, VID_xxxx&PID_), and
// equal units need no folding. Inline: every registry name comparison
// starts here.
inline std::size_t equal_prefix(wview a, wview b) {
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    std::size_t i = 0;
    for (std::uint64_t x, y; i + 4 <= common; i += 4) {
        std::memcpy(&x, a.data() + i, sizeof x);
        std::memcpy(&y, b.data() + i, sizeof y);
        if (x != y) break;
    }
    while (i < common && a[i] == b[i]) ++i;
    return i;
}

// Orders texts as ascii_equal_nocase compares them; finds by view.
struct ascii_less_nocase {
    using is_transparent = void;
    bool operator()(wview a, wview b) const;
};

// Upper-cases a unit as Windows does when it compares registry names: every
// letter with a one-unit upper case (upcase.h).
WCHAR registry_fold(WCHAR c);

// Orders names as Windows does: by their upper-cased form. Lookups with it
// ignore case, and iteration gives the order in which subkeys enumerate.
struct name_less {
    using is_transparent = void;
    bool operator()(wview a, wview b) const;
};

// The same order as a three-way comparison: negative, zero or positive.
int name_order(wview a, wview b);

// Hashes and compares names as name_less orders them, for lookups by name
// alone. The hash is keyed afresh for each run.
struct name_hash {
    using is_transparent = void;
    std::size_t operator()(wview name) const;
};
struct name_equal {
    using is_transparent = void;
    bool operator()(wview a, wview b) const;
};

// Hashes text as it stands, keyed as name_hash is.
std::size_t text_hash(wview text);

// The value of a hexadecimal digit, or -1. Inline: an export's hex lists
// are read a digit at a time.
inline int hex_digit(char32_t c) {
    if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
    if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a' + 10);
    if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A' + 10);
    return -1;
}

// UTF-16 to UTF-8; lone surrogates become U+FFFD.
std::string to_utf8(wview text);

// UTF-16LE bytes to UTF-16 units; an odd last byte is dropped.
wtext from_utf16le(std::string_view bytes);
void append_utf16le(wtext& out, std::string_view bytes);

// UTF-8 to UTF-16; each byte that does not start a valid sequence becomes
// U+FFFD, and `valid`, when given, is cleared.
wtext from_utf8(std::string_view bytes, bool* valid = nullptr);

// Whether every byte of `bytes` is part of a valid UTF-8 sequence, as
// from_utf8 reads them.
bool valid_utf8(std::string_view bytes);

// UTF-8 to UTF-16, each byte that does not start a valid sequence read as
// Windows-1252 (the ANSI code page older registry exports are written in).
wtext from_utf8_or_1252(std::string_view bytes);
