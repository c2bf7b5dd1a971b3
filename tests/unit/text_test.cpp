// Text conversion, USB names and the failure report's fallback.
#include "registry/usb_names.h"
#include "report/report.h"
#include "text/text.h"

#include <gtest/gtest.h>

namespace {

using namespace std::literals;

TEST(Utf8, RoundTripsAndReplacesWhatIsNotText) {
    EXPECT_EQ(to_utf8(u"\u03a9mega-\u00e91 \U0001F600"), "\xCE\xA9mega-\xC3\xA9" "1 \xF0\x9F\x98\x80");
    EXPECT_EQ(from_utf8("\xCE\xA9\xF0\x9F\x98\x80"), u"\u03a9\U0001F600");
    // Lone surrogates cannot be written as UTF-8.
    EXPECT_EQ(to_utf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
    // Stray bytes, overlong forms and encoded surrogates each become U+FFFD.
    EXPECT_EQ(from_utf8("a\xFF" "b\xC0\xAF\xED\xA0\x80"), u"a\uFFFDb\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(from_utf8("\xE2\x82"), u"\uFFFD\uFFFD");
}

TEST(Nocase, FoldsAsciiOnly) {
    EXPECT_TRUE(ascii_equal_nocase(u"--HeLp", u"--help"));
    EXPECT_FALSE(ascii_equal_nocase(u"\u00c9", u"\u00e9"));
    EXPECT_FALSE(ascii_equal_nocase(u"-h", u"-hh"));
}

// Each USB name rule on the names that pass it, the near misses that do not.
TEST(UsbNames, OneRowPerRule) {
    EXPECT_EQ(model_key(0x2E8A, 0x000A), u"VID_2E8A&PID_000A");
    EXPECT_EQ(ftdi_key(u"0403", u"6010", u"FT2A"), u"VID_0403+PID_6010+FT2A");
    EXPECT_EQ(interface_suffix(0x1F), u"&MI_1F");
    const struct { wview name; bool device, ftdi; std::size_t mi; int pid; } rows[] = {
        {u"vid_1a2b&pid_3c4d", true, false, wview::npos, any_interface},
        {u"VID_1A2B&PID_3C4D&MI_0a", true, false, 17, any_interface},
        {u"VID_1A2B&PID_3C4D&MI_0G", true, false, wview::npos, any_interface},
        {u"VID_1&PID_2", false, false, wview::npos, any_interface},
        {u"VID_0403+PID_6001+A", true, true, wview::npos, any_interface},
        {u"VID_0403+PID_6001+", true, false, wview::npos, any_interface},
        {u"000A&mi_02", false, false, wview::npos, 2},
        {u"000A&MI_2", false, false, wview::npos, any_interface},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(device_key_valid(row.name), row.device) << to_utf8(row.name);
        EXPECT_EQ(ftdi_key_valid(row.name), row.ftdi) << to_utf8(row.name);
        EXPECT_EQ(interface_at(row.name), row.mi) << to_utf8(row.name);
        EXPECT_EQ(function_pid(row.name), row.pid) << to_utf8(row.name);
    }
    EXPECT_TRUE(function_of(u"7&aa01&0&0001", u"7&aa01&0") && function_of(u"1-2", u"1-2"));
    EXPECT_FALSE(function_of(u"7&aa01&0&0001", u"7&aa01") || function_of(u"1-20", u"1-2"));
    EXPECT_TRUE(made_up_instance(u"5&1e5b1c3&0&3") && !made_up_instance(u"A50285BI"));
    // A device's revision from its hardware IDs: the first USB\VID&PID&REV entry of four hex digits.
    const struct { wview ids; const char16_t* revision; } revisions[] = {
        {u"USB\\VID_2E8A&PID_000A&REV_0100\0USB\\VID_2E8A&PID_000A\0"sv, u"0100"},
        {u"usb\\vid_2e8a&pid_000a&rev_10ab\0"sv, u"10AB"},
        {u"USB\\VID_2E8A&PID_000A&REV_0100&MI_00\0USB\\VID_2E8A&PID_000A&REV_0200\0"sv, u"0200"},
        {u"USB\\VID_2E8A&PID_000A&REV_01G0"sv, nullptr},
        {u"USB\\VID_2E8A&PID_000A&REV_010", nullptr},
        {u"FTDIBUS\\VID_0403+PID_6001+A&REV_0600", nullptr},
    };
    for (const auto& row : revisions)
        EXPECT_EQ(usb_revision(row.ids).value_or(u"-"), row.revision ? row.revision : u"-") << to_utf8(row.ids);
}

struct report_row {
    DWORD code;
    const char* line;
    int result;
};

class Reports : public testing::TestWithParam<report_row> {};

TEST_P(Reports, CarryCodeAndSystemText) {
    SetLastError(GetParam().code);
    testing::internal::CaptureStderr();
    const int result = report_error(u"main:1:Test");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), GetParam().line);
    EXPECT_EQ(result, GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, Reports,
    testing::Values(report_row{87, "main:1:Test: 87: The parameter is incorrect.\r\n\n", 0},
                    report_row{12345, "main:1:Test: 12345: formatting error\n", 1},
                    report_row{0xFFFFFFFF, "main:1:Test: -1: formatting error\n", 1}),
    [](const testing::TestParamInfo<report_row>& info) { return "code_" + std::to_string(info.param.code); });

}  // namespace
