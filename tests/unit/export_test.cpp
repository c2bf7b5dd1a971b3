// The registry-export reader: its grammar, one row per construct, its
// refusals, each with the line it names, and the image it makes.
#include "winapi/image.h"
#include "export/regexport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n";
const std::string key = "[HKEY_LOCAL_MACHINE\\K]\r\n";

std::string utf16(const std::string& utf8) {
    std::string out = "\xFF\xFE";
    for (char16_t c : from_utf8(utf8)) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

std::vector<BYTE> bytes(std::initializer_list<int> list) { return {list.begin(), list.end()}; }

std::vector<std::u16string> subkeys(const image_key& key) {
    std::vector<std::u16string> names;
    for (const image_key& child : key.children) names.emplace_back(child.name);
    return names;
}

// A test name from a row's description.
template <typename Row>
std::string row_name(const testing::TestParamInfo<Row>& info) {
    std::string name = info.param.what;
    for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

struct value_row {
    const char* what;
    std::string export_bytes;
    std::u16string value_name;  // under HKLM\K
    DWORD type;
    std::vector<BYTE> data;
};

class ExportValues : public testing::TestWithParam<value_row> {};

TEST_P(ExportValues, ReadsTypeAndBytes) {
    const value_row& row = GetParam();
    reg_image image;
    const auto error = read_export(row.export_bytes, image);
    ASSERT_FALSE(error) << "line " << error->line << ": " << error->what;
    const image_key* k = find_key(image.hklm, u"K");
    ASSERT_NE(k, nullptr);
    const auto value = find_value(*k, row.value_name);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, row.type);
    EXPECT_EQ(std::vector<BYTE>(value->data.begin(), value->data.end()), row.data);
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, ExportValues,
    testing::Values(
        value_row{"string", header + key + "\"A\"=\"COM3\"\r\n", u"A", REG_SZ,
                  bytes({'C', 0, 'O', 0, 'M', 0, '3', 0, 0, 0})},
        value_row{"escapes", header + key + "\"A\"=\"a\\\\b\\\"\"\r\n", u"A", REG_SZ,
                  bytes({'a', 0, '\\', 0, 'b', 0, '"', 0, 0, 0})},
        value_row{"name with escapes", header + key + "\"\\\\D\\\"\"=\"x\"\r\n", u"\\D\"", REG_SZ,
                  bytes({'x', 0, 0, 0})},
        value_row{"default value", header + key + "@=\"x\"\r\n", u"", REG_SZ, bytes({'x', 0, 0, 0})},
        value_row{"outside ASCII", header + key + "\"A\"=\"\xCE\xA9\"\r\n", u"A", REG_SZ, bytes({0xA9, 0x03, 0, 0})},
        value_row{"UTF-16 file", utf16(header + key + "\"A\"=\"\xCE\xA9\"\r\n"), u"A", REG_SZ,
                  bytes({0xA9, 0x03, 0, 0})},
        value_row{"UTF-8 BOM, LF line ends", "\xEF\xBB\xBFREGEDIT4\n\n[HKLM\\K]\n\"A\"=\"x\"\n", u"A", REG_SZ,
                  bytes({'x', 0, 0, 0})},
        value_row{"dword", header + key + "\"A\"=dword:0000a0b1\r\n", u"A", REG_DWORD, bytes({0xB1, 0xA0, 0, 0})},
        value_row{"binary", header + key + "\"A\"=hex:01,ff,7e\r\n", u"A", REG_BINARY, bytes({1, 0xFF, 0x7E})},
        value_row{"empty binary", header + key + "\"A\"=hex:\r\n", u"A", REG_BINARY, {}},
        value_row{"expandable", header + key + "\"A\"=hex(2):41,00,00,00\r\n", u"A", REG_EXPAND_SZ,
                  bytes({0x41, 0, 0, 0})},
        value_row{"qword type in hex", header + key + "\"A\"=hex(b):01,00,00,00,00,00,00,00\r\n", u"A", REG_QWORD,
                  bytes({1, 0, 0, 0, 0, 0, 0, 0})},
        value_row{"continuation lines", header + key + "\"A\"=hex(7):43,00,\\\r\n  00,00,\\\r\n  00,00\r\n", u"A",
                  REG_MULTI_SZ, bytes({0x43, 0, 0, 0, 0, 0})},
        value_row{"continued list written with blanks and upper case",
                  header + key + "\"A\" = HEX(7):43,00,\\\r\n  00,00\r\n", u"A", REG_MULTI_SZ,
                  bytes({0x43, 0, 0, 0})},
        value_row{"REGEDIT4 joined after 5.00: its bytes as Windows-1252",
                  header + key + "REGEDIT4\r\n" + key + "\"A\"=\"\xE9\"\r\n", u"A", REG_SZ, bytes({0xE9, 0, 0, 0})},
        value_row{"names ignore case", header + key + "\"PortName\"=\"a\"\r\n[hklm\\k]\r\n\"PORTNAME\"=\"b\"\r\n",
                  u"portname", REG_SZ, bytes({'b', 0, 0, 0})},
        value_row{"comments and blanks", header + "; note\r\n\r\n" + key + "  ; more\r\n\"A\"=\"x\"\r\n", u"A",
                  REG_SZ, bytes({'x', 0, 0, 0})}),
    row_name<value_row>);

struct error_row {
    const char* what;
    std::string export_bytes;
    std::size_t line;
    std::string message;
};

class ExportErrors : public testing::TestWithParam<error_row> {};

TEST_P(ExportErrors, NamesLineAndFault) {
    const error_row& row = GetParam();
    reg_image image;
    const auto error = read_export(row.export_bytes, image);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->line, row.line);
    EXPECT_EQ(error->what, row.message);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, ExportErrors,
    testing::Values(
        error_row{"no header", "[HKLM\\K]\r\n", 1,
                  "the first line is not \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\""},
        error_row{"bad dword", header + key + "\"A\"=dword:123456789\r\n", 4, "a dword value needs 1 to 8 hex digits"},
        error_row{"bad hex type", header + key + "\"A\"=hex(x):00\r\n", 4,
                  "a hex(N) type needs 1 to 8 hex digits and \"):\""},
        error_row{"unknown data", header + key + "\"A\"=qword:1\r\n", 4,
                  "value data must be a quoted string, dword:, hex: or hex(N):, or - to delete"},
        error_row{"text after string", header + key + "\"A\"=\"x\" y\r\n", 4,
                  "text follows the closing quote of a string value"},
        error_row{"no equals sign", header + key + "\"A\" \"x\"\r\n", 4, "a value name must be followed by ="},
        error_row{"no closing bracket", header + "[HKLM\\K\r\n", 3, "a [key] section has no closing ]"},
        error_row{"empty key name", header + "[HKLM\\A\\\\B]\r\n", 3, "a key path has an empty key name"},
        error_row{"delete a root", header + "[-HKLM]\r\n", 3, "a registry root cannot be deleted"},
        error_row{"continued to end of file", header + key + "\"A\"=hex:00,\\\r\n", 4,
                  "the file ends inside a continued hex list"},
        error_row{"bad data after a deleted key", header + "[-HKLM\\K]\r\n\"A\"=dword:zzzz\r\n", 4,
                  "a dword value needs 1 to 8 hex digits"},
        error_row{"=hex in an unclosed name is no continuation", header + key + "\"n=hex\\\r\n\0me\"=\"x\"\r\n", 4,
                  "a quoted string has no closing quote"},
        error_row{"=hex in a string is no continuation", header + key + "\"A\"=\"s=hex\\\r\ntring\"\r\n", 4,
                  "a quoted string has no closing quote"},
        error_row{"5.00 joined after REGEDIT4: its bytes UTF-8",
                  "REGEDIT4\r\n" + key + header + key + "\"A\"=\"\xE9\"\r\n", 6, "the text is not valid UTF-8"},
        error_row{"stray text", header + key + "PortName=COM3\r\n", 4,
                  "the line is neither a [key] section nor a value"},
        error_row{"invalid UTF-8 on line 4", header + key + "\"A\"=\"\xC3\x28\"\r\n", 4,
                  "the text is not valid UTF-8"},
        error_row{"value name over 16383", header + key + "\"" + std::string(16384, 'v') + "\"=\"x\"\r\n", 4,
                  "a value name is longer than 16383 characters"},
        error_row{"nesting over 512", [] {
                      std::string path = "[HKLM";
                      for (int i = 0; i < 513; ++i) path += "\\k";
                      return header + path + "]\r\n";
                  }(),
                  3, "a key path is deeper than 512 levels"}),
    row_name<error_row>);

TEST(ExportTree, DeletionsAndOrder) {
    reg_image image;
    const std::string text = header +
                             "[HKLM\\K\\b]\r\n[HKLM\\K\\_c]\r\n[HKLM\\K\\A]\r\n\"X\"=\"1\"\r\n\"X\"=-\r\n"
                             "[HKLM\\K\\gone\\deep]\r\n[-HKLM\\K\\GONE]\r\n\"Y\"=\"dropped\"\r\n";
    ASSERT_FALSE(read_export(text, image));
    const image_key* k = find_subkey(image.hklm, u"k");
    ASSERT_NE(k, nullptr);
    // Sorted by upper-cased name, as Windows enumerates: '_' after the letters.
    EXPECT_EQ(subkeys(*k), (std::vector<std::u16string>{u"A", u"b", u"_c"}));
    EXPECT_TRUE(find_subkey(*k, u"A")->values.empty());
    using row = std::pair<const char16_t*, const char16_t*>;  // asked, found
    for (const auto& [asked, found] : {row{u"a", u"A"}, row{u"B", u"b"}, row{u"_C", u"_c"}, row{u"c", nullptr}}) {
        const image_key* child = find_subkey(*k, asked);
        EXPECT_EQ(child ? std::u16string(child->name) : u"-", found ? found : u"-");
    }
}

TEST(ExportTree, SectionsMeetTheSameKeysWhateverTheirOrderAndCase) {
    reg_image image;
    const std::string text = header +
                             "[HKLM\\K\\A]\r\n\"1\"=\"x\"\r\n[HKLM\\k\\a\\B]\r\n[HKCU\\K\\A\\C]\r\n"
                             "[HKEY_LOCAL_MACHINE\\K\\A\\C]\r\n[-HKLM\\K\\A\\B]\r\n[HKLM\\K\\A\\B\\D]\r\n"
                             "[HKLM\\K]\r\n[HKLM\\K\\A]\r\n\"2\"=\"y\"\r\n";
    ASSERT_FALSE(read_export(text, image));
    ASSERT_EQ(image.hklm.children.size(), 1u);
    const image_key* a = find_key(image.hklm, u"K\\A");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->values.size(), 2u);
    EXPECT_EQ(subkeys(*a), (std::vector<std::u16string>{u"B", u"C"}));
    EXPECT_NE(find_key(*a, u"b\\D"), nullptr);
}

TEST(ExportTree, NamesFoldAsWindowsFoldsEveryLetter) {
    reg_image image;
    ASSERT_FALSE(read_export(header + "[HKLM\\K\\\xC4\x80\xC5\x92\xC7\x85]\r\n[HKLM\\K\\\xC4\x81\xC5\x93\xC7\x86]\r\n", image));
    EXPECT_EQ(subkeys(*find_subkey(image.hklm, u"K")), std::vector<std::u16string>{u"\u0100\u0152\u01c5"});
}

// Crafted exports that once took time or memory out of proportion to their
// size: each is read in a time that grows with it alone.
TEST(ExportTree, CraftedExportsReadInProportion) {
    const auto timed = [](const std::string& text, export_arrival arrival, std::size_t piece) {
        const auto start = std::chrono::steady_clock::now();
        reg_image image;
        const auto reading = start_export(image, nullptr, arrival);
        std::optional<export_error> error;
        for (std::size_t at = 0; at < text.size() && !error; at += piece) error = read_more(*reading, std::string_view(text).substr(at, piece));
        if (!error) error = finish_export(*reading);
        return std::pair(error, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    };
    std::string values = header + key, rounds, deletions;
    for (int i = 0; i < 20000; ++i) values += "\"v" + std::to_string(i) + "\"=\"x\"\r\n";
    for (int i = 0; i < 20000; ++i) rounds += "\"v19999\"=-\r\n\"v19999\"=\"y\"\r\n";
    for (int i = 0; i < 20000; ++i) deletions += "\"v" + std::to_string(i) + "\"=-\r\n";
    const struct {
        const char* what;
        std::string text;
        export_arrival arrival;
        std::size_t piece;
        std::size_t line;  // of the refusal, 0 for none
    } rows[] = {
        {"a value deleted and set again, 20000 times", values + rounds, export_arrival::file, 1 << 20, 0},
        {"20000 values deleted", values + deletions, export_arrival::file, 1 << 20, 0},
        {"a line of 16 MiB without an end, in pieces of 4 KiB", header + std::string(16 << 20, 'x'),
         export_arrival::file, 4096, 3},
        {"a stream of NULs after the header", header + std::string(16 << 20, '\0'), export_arrival::stream, 4096, 3},
    };
    for (const auto& row : rows) {
        const auto [error, seconds] = timed(row.text, row.arrival, row.piece);
        EXPECT_EQ(error ? error->line : 0, row.line) << row.what;
        EXPECT_LT(seconds, 10.0) << row.what;
    }
}

TEST(ExportTree, StreamInPiecesOfOneByteReadsAsTheFile) {
    for (const std::string& text : {utf16(header + key + "\"A\"=\"x\"\r\n"), "\xEF\xBB\xBF" + header + key}) {
        reg_image image;
        const auto reading = start_export(image, nullptr, export_arrival::stream);
        for (const char byte : text) ASSERT_FALSE(read_more(*reading, std::string_view(&byte, 1)));
        EXPECT_FALSE(finish_export(*reading));
        EXPECT_NE(find_subkey(image.hklm, u"K"), nullptr);
    }
}

TEST(ExportTree, DeepNestingAtTheLimit) {
    std::string path = "[HKLM";
    for (int i = 0; i < 512; ++i) path += "\\k";
    reg_image image;
    EXPECT_FALSE(read_export(header + path + "]\r\n", image));
}

}  // namespace
