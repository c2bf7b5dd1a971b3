// Wide text: comparison without regard to case, hex digits, and UTF-8 and
// UTF-16 conversion, shared by every part of the program.
#pragma once

#include "registry/platform.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

using wtext = std::basic_string<WCHAR>;
using wview = std::basic_string_view<WCHAR>;

// Equal without regard to ASCII case, as the C runtime compares in its
// default locale.
bool text_equal_nocase(wview a, wview b);

// True when `text` begins with `start`, without regard to ASCII case.
bool starts_nocase(wview text, wview start);

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

// Orders texts as text_equal_nocase compares them; finds by view.
struct text_less_nocase {
    using is_transparent = void;
    bool operator()(wview a, wview b) const;
};

// The value of a hexadecimal digit, or -1.
int hex_digit(char32_t c);

// UTF-16 to UTF-8; lone surrogates become U+FFFD.
std::string to_utf8(wview text);

// UTF-16LE bytes to UTF-16 units; an odd last byte is dropped.
wtext from_utf16le(std::string_view bytes);
void append_utf16le(wtext& out, std::string_view bytes);

// UTF-8 to UTF-16; each byte that does not start a valid sequence becomes
// U+FFFD, and `valid`, when given, is cleared.
wtext from_utf8(std::string_view bytes, bool* valid = nullptr);
