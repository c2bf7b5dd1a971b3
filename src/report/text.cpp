#include "report/text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

WCHAR fold_ascii(WCHAR c) { return (c >= u'A' && c <= u'Z') ? static_cast<WCHAR>(c + 32) : c; }

void put_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void put_utf16(wtext& out, char32_t cp) {
    if (cp < 0x10000) {
        out += static_cast<WCHAR>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<WCHAR>(0xD800 + (cp >> 10));
        out += static_cast<WCHAR>(0xDC00 + (cp & 0x3FF));
    }
}

// Length of the valid UTF-8 sequence at `s[i]`, or 0 when it is not one
// (overlong forms, surrogates and values past U+10FFFF included).
std::size_t utf8_sequence(std::string_view s, std::size_t i, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t n;
    char32_t min;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        n = 2, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

}  // namespace

int hex_digit(char32_t c) {
    if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
    if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a' + 10);
    if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A' + 10);
    return -1;
}

bool text_equal_nocase(wview a, wview b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = equal_prefix(a, b); i < a.size(); ++i)
        if (fold_ascii(a[i]) != fold_ascii(b[i])) return false;
    return true;
}

bool starts_nocase(wview text, wview start) {
    return text.size() >= start.size() && text_equal_nocase(text.substr(0, start.size()), start);
}

bool text_less_nocase::operator()(wview a, wview b) const {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = equal_prefix(a, b); i < common; ++i) {
        if (a[i] == b[i]) continue;
        const WCHAR x = fold_ascii(a[i]), y = fold_ascii(b[i]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

std::string to_utf8(wview text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        // Runs of ASCII, most text, go in one append.
        std::size_t ascii = i;
        while (ascii < text.size() && text[ascii] < 0x80) ++ascii;
        if (ascii > i) {
            const std::size_t start = out.size();
            out.resize(start + (ascii - i));
            for (std::size_t k = i; k < ascii; ++k) out[start + (k - i)] = static_cast<char>(text[k]);
            i = ascii - 1;
            continue;
        }
        char32_t c = text[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        put_utf8(out, c);
    }
    return out;
}

void append_utf16le(wtext& out, std::string_view bytes) {
    const std::size_t start = out.size();
    out.resize(start + bytes.size() / 2);
    for (std::size_t k = start; k < out.size(); ++k) {
        const std::size_t at = 2 * (k - start);
        out[k] = static_cast<WCHAR>(static_cast<unsigned char>(bytes[at]) |
                                    static_cast<unsigned char>(bytes[at + 1]) << 8);
    }
}

wtext from_utf16le(std::string_view bytes) {
    wtext out;
    append_utf16le(out, bytes);
    return out;
}

wtext from_utf8(std::string_view bytes, bool* valid) {
    // ASCII, most text, widens as it stands.
    std::size_t ascii = 0;
    while (ascii < bytes.size() && static_cast<unsigned char>(bytes[ascii]) < 0x80) ++ascii;
    wtext out(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(ascii));
    out.reserve(bytes.size());
    for (std::size_t i = ascii; i < bytes.size();) {
        char32_t cp = 0;
        const std::size_t n = utf8_sequence(bytes, i, cp);
        if (!n && valid) *valid = false;
        put_utf16(out, n ? cp : 0xFFFD);
        i += n ? n : 1;
    }
    return out;
}
