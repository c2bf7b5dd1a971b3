// What a port query's outcome means, against a scripted port-configuration
// service: present, absent, present with a larger record, or a failure that
// ends the run with its report.
#include "walk/port.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct process_end {
    int status;
};

DWORD last_error = 0;
BOOL query_result = 0;
DWORD query_error = 0;
int queries = 0;
std::string error_output;

}  // namespace

// The platform calls this test's code reaches, scripted.
BOOL GetDefaultCommConfigW(LPCWSTR, LPCOMMCONFIG, LPDWORD size) {
    ++queries;
    if (*size != sizeof(COMMCONFIG)) return 0;
    last_error = query_error;
    return query_result;
}
DWORD GetLastError() { return last_error; }
void SetLastError(DWORD code) { last_error = code; }
DWORD FormatMessageW(DWORD, LPCVOID, DWORD, DWORD, LPWSTR, DWORD, void*) { return 0; }
HLOCAL LocalFree(HLOCAL) { return nullptr; }
LSTATUS RegOpenKeyExW(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY) { return ERROR_FILE_NOT_FOUND; }
LSTATUS RegEnumKeyExW(HKEY, DWORD, LPWSTR, LPDWORD, LPDWORD, LPWSTR, LPDWORD, void*) { return ERROR_NO_MORE_ITEMS; }
LSTATUS RegQueryValueExW(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD) { return ERROR_FILE_NOT_FOUND; }
LSTATUS RegCloseKey(HKEY) { return ERROR_SUCCESS; }
HDEVINFO SetupDiCreateDeviceInfoList(const GUID*, HWND) { return INVALID_HANDLE_VALUE; }
BOOL SetupDiOpenDeviceInfoW(HDEVINFO, LPCWSTR, HWND, DWORD, PSP_DEVINFO_DATA) { return 0; }
BOOL SetupDiGetDevicePropertyW(HDEVINFO, PSP_DEVINFO_DATA, const DEVPROPKEY*, DEVPROPTYPE*, BYTE*, DWORD, DWORD*, DWORD) { return 0; }
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO) { return 1; }
void prepare_port_query() {}
bool write_text(out_stream stream, const WCHAR* text, std::size_t count) {
    if (stream == out_stream::standard_error) error_output += to_utf8(wview(text, count));
    return true;
}
bool flush_output() { return true; }
void exit_process(int status) { throw process_end{status}; }
void exit_reader_gone() { throw process_end{0}; }
void catch_end_requests() {}
bool end_requested() { return false; }
void watch_changes() {}
source_outcome open_registry_source(const source_needs&) { return {}; }
bool wait_for_change(unsigned) { return false; }

namespace {

struct query_row {
    const char* what;
    BOOL result;
    DWORD error;
    int outcome;  // 1 present, 0 absent, 2 the run ends with status 2
    const char* report;
};

class PortQuery : public testing::TestWithParam<query_row> {};

TEST_P(PortQuery, MeansWhatTheServiceSaid) {
    const query_row& row = GetParam();
    query_result = row.result;
    query_error = row.error;
    error_output.clear();
    int outcome;
    try {
        outcome = port_present(wtext(u"COM3")) ? 1 : 0;
    } catch (const process_end& end) {
        outcome = end.status;
    }
    EXPECT_EQ(outcome, row.outcome);
    EXPECT_EQ(error_output, row.report);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, PortQuery,
    testing::Values(query_row{"known", 1, 0, 1, ""},
                    query_row{"detached", 0, ERROR_INVALID_PARAMETER, 0, ""},
                    // The port exists; its provider wants a larger record.
                    query_row{"larger_record", 0, ERROR_INSUFFICIENT_BUFFER, 1, ""},
                    query_row{"other_failure", 0, ERROR_BADKEY, 2,
                              "main:107:GetDefaultCommConfig: 1010: formatting error\n"},
                    query_row{"access_denied", 0, ERROR_ACCESS_DENIED, 2,
                              "main:107:GetDefaultCommConfig: 5: formatting error\n"}),
    [](const testing::TestParamInfo<query_row>& info) { return std::string(info.param.what); });

TEST(PortQuery, AbsentNameIsNotQueried) {
    queries = 0;
    EXPECT_FALSE(port_present(std::nullopt));
    EXPECT_EQ(queries, 0);
}

}  // namespace
