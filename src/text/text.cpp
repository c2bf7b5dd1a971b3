#include "text/text.h"

#include "text/upcase.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <random>

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

bool ascii_equal_nocase(wview a, wview b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = equal_prefix(a, b); i < a.size(); ++i)
        if (fold_ascii(a[i]) != fold_ascii(b[i])) return false;
    return true;
}

bool ascii_starts_nocase(wview text, wview start) {
    return text.size() >= start.size() && ascii_equal_nocase(text.substr(0, start.size()), start);
}

bool ascii_less_nocase::operator()(wview a, wview b) const {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = equal_prefix(a, b); i < common; ++i) {
        if (a[i] == b[i]) continue;
        const WCHAR x = fold_ascii(a[i]), y = fold_ascii(b[i]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

WCHAR registry_fold(WCHAR c) {
    // ASCII first: nearly every name is.
    if (c < 0x80) return c >= u'a' && c <= u'z' ? static_cast<WCHAR>(c - 0x20) : c;
    const upcase_run* run = std::upper_bound(std::begin(upcase_runs), std::end(upcase_runs), c,
                                             [](WCHAR unit, const upcase_run& r) { return unit < r.first; });
    if (run == std::begin(upcase_runs)) return c;
    --run;
    if (c > run->last || (c - run->first) % run->step != 0) return c;
    return static_cast<WCHAR>(c + run->distance);
}

int name_order(wview a, wview b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = equal_prefix(a, b); i < common; ++i) {
        if (a[i] == b[i]) continue;
        const WCHAR x = registry_fold(a[i]), y = registry_fold(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size();
}

bool name_less::operator()(wview a, wview b) const { return name_order(a, b) < 0; }

namespace {

// A key of this run's own, so that names cannot be chosen to collide in
// the hash tables that find them (an export's keys and values). Made at
// its first use, whenever that is.
std::uint64_t hash_key() {
    static const std::uint64_t key = [] {
        std::random_device source;
        return std::uint64_t{source()} << 32 | source();
    }();
    return key;
}

// Mixes all 64 bits into each (the finaliser of MurmurHash3).
std::uint64_t mix(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDu;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53u;
    return h ^ h >> 33;
}

// Four units at a time, each as `unit` gives it, each word mixed in with
// the key.
template <typename Unit>
std::size_t keyed_hash(wview text, Unit unit) {
    const std::uint64_t key = hash_key();
    std::uint64_t hash = key ^ text.size();
    std::size_t i = 0;
    for (; i + 4 <= text.size(); i += 4) {
        const std::uint64_t word = std::uint64_t{unit(text[i])} | std::uint64_t{unit(text[i + 1])} << 16 |
                                   std::uint64_t{unit(text[i + 2])} << 32 | std::uint64_t{unit(text[i + 3])} << 48;
        hash = mix(hash ^ word) + key;
    }
    std::uint64_t word = 0;
    for (std::size_t shift = 0; i < text.size(); ++i, shift += 16) word |= std::uint64_t{unit(text[i])} << shift;
    return static_cast<std::size_t>(mix(hash ^ word ^ key));
}

}  // namespace

std::size_t name_hash::operator()(wview name) const { return keyed_hash(name, registry_fold); }

std::size_t text_hash(wview text) {
    return keyed_hash(text, [](WCHAR unit) { return unit; });
}

bool name_equal::operator()(wview a, wview b) const {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && registry_fold(a[i]) != registry_fold(b[i])) return false;
    return true;
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

namespace {

// Windows-1252's characters for 0x80 to 0x9F; the five it leaves undefined
// read as the control characters of the same numbers, as Windows reads them.
constexpr char16_t cp1252_high[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

wtext from_utf8_or_1252(std::string_view bytes) {
    wtext out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t cp = 0;
        const std::size_t n = utf8_sequence(bytes, i, cp);
        if (n) {
            put_utf16(out, cp);
            i += n;
            continue;
        }
        const auto byte = static_cast<unsigned char>(bytes[i++]);
        out += byte >= 0x80 && byte < 0xA0 ? cp1252_high[byte - 0x80] : static_cast<char16_t>(byte);
    }
    return out;
}

bool valid_utf8(std::string_view bytes) {
    char32_t cp = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t n = utf8_sequence(bytes, i, cp);
        if (!n) return false;
        i += n;
    }
    return true;
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
