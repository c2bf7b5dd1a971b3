// The failure tags, main:NUMBER:CALL, each naming one kind of failure site.
// Their numbers are fixed output that scripts and bug reports match, not
// the lines where the sites now stand: they never change when code moves.
#pragma once

#include "platform/platform.h"

namespace tag {

// Registry string values.
inline constexpr const WCHAR* query_value = TEXT("main:72:RegQueryValueEx");
inline constexpr const WCHAR* not_a_string = TEXT("main:73:RegQueryValueEx(key type != REG_SZ)");
// A port's qualification.
inline constexpr const WCHAR* device_parameters = TEXT("main:85:reg_subkey(Device Parameters)");
inline constexpr const WCHAR* port_query = TEXT("main:107:GetDefaultCommConfig");
// The walk over Enum\USB.
inline constexpr const WCHAR* open_root = TEXT("main:149:RegOpenKeyEx(Enum\\USB key)");
inline constexpr const WCHAR* open_filtered = TEXT("main:157:RegOpenKeyEx(vid&pid)");
inline constexpr const WCHAR* enum_devices = TEXT("main:189:RegEnumKeyEx(dev_keys)");
inline constexpr const WCHAR* open_device = TEXT("main:192:RegOpenKeyEx(enumerated key)");
inline constexpr const WCHAR* enum_instances = TEXT("main:219:RegEnumKeyEx(dev_keys)");
inline constexpr const WCHAR* open_instance = TEXT("main:222:RegOpenKeyEx(enumerated key)");
// Ports by device (--all-ports): a model's functions, and Enum\FTDIBUS.
inline constexpr const WCHAR* enum_functions = TEXT("main:251:RegEnumKeyEx(functions)");
inline constexpr const WCHAR* open_function = TEXT("main:253:RegOpenKeyEx(function key)");
inline constexpr const WCHAR* enum_function_instances = TEXT("main:255:RegEnumKeyEx(function instances)");
inline constexpr const WCHAR* open_function_instance = TEXT("main:257:RegOpenKeyEx(function instance)");
inline constexpr const WCHAR* open_ftdibus = TEXT("main:261:RegOpenKeyEx(Enum\\FTDIBUS key)");
inline constexpr const WCHAR* enum_ftdi_keys = TEXT("main:263:RegEnumKeyEx(ftdi_keys)");
inline constexpr const WCHAR* open_ftdi_key = TEXT("main:265:RegOpenKeyEx(ftdi key)");
inline constexpr const WCHAR* enum_ftdi_instances = TEXT("main:267:RegEnumKeyEx(ftdi instances)");
inline constexpr const WCHAR* open_ftdi_instance = TEXT("main:269:RegOpenKeyEx(ftdi instance)");
// Standard output.
inline constexpr const WCHAR* write_output = TEXT("main:301:write(standard output)");

}  // namespace tag
