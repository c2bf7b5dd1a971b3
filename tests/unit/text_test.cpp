// Text conversion and the failure report's fallback.
#include "report/report.h"
#include "report/text.h"

#include <gtest/gtest.h>

namespace {

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
    EXPECT_TRUE(text_equal_nocase(u"--HeLp", u"--help"));
    EXPECT_FALSE(text_equal_nocase(u"\u00c9", u"\u00e9"));
    EXPECT_FALSE(text_equal_nocase(u"-h", u"-hh"));
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
