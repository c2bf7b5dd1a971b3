#include "registry/registry.h"

#include "report/report.h"
#include "registry/schema.h"
#include "registry/usb_names.h"
#include "report/tags.h"

#include <algorithm>

void open_registry(const source_needs& needs) {
    const source_outcome outcome = open_registry_source(needs);
    static bool noted = false;
    if (!outcome.note.empty() && !noted) {
        noted = true;
        const wtext note = from_utf8("portsift: " + outcome.note + "\n");
        put_text(out_stream::standard_error, note.data(), note.size());
    }
    if (outcome.refusal.empty()) return;
    print_err(TEXT("portsift: %s\n"), from_utf8(outcome.refusal).c_str());
    end_process(2);
}

int reg_subkey(HKEY parent, const WCHAR* name, HKEY* out) {
    const LONG status = RegOpenKeyExW(parent, name, 0, KEY_QUERY_VALUE, out);
    if (status == ERROR_SUCCESS) return 0;
    SetLastError(static_cast<DWORD>(status));
    return 1;
}

LONG subkey_name(HKEY parent, DWORD index, WCHAR (&name)[key_name_capacity], DWORD* length) {
    DWORD size = key_name_capacity;
    const LONG status = RegEnumKeyExW(parent, index, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (length) *length = size;
    return status;
}

owned_key open_optional(HKEY parent, const WCHAR* name, const WCHAR* tag) {
    HKEY key = nullptr;
    const LONG status = RegOpenKeyExW(parent, name, 0, KEY_READ, &key);
    if (status == ERROR_FILE_NOT_FOUND || (status != ERROR_SUCCESS && !tag)) return nullptr;
    if (status != ERROR_SUCCESS) fail_status(tag, status);
    return owned_key(key);
}

std::optional<wtext> strict_string(HKEY key, const WCHAR* name) {
    WCHAR buffer[260];
    DWORD type = REG_SZ;
    // One byte less than the buffer, so that an odd count still leaves room
    // for the terminator stored below.
    DWORD count = 519;
    const LONG status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &count);
    if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
    if (status != ERROR_SUCCESS) fail_status(tag::query_value, status);
    if (type != REG_SZ) fail_status(tag::not_a_string, ERROR_DATATYPE_MISMATCH);
    buffer[count / 2] = 0;
    return wtext(buffer);
}

std::optional<wtext> text_if_any(HKEY key, const WCHAR* name, bool* is_text) {
    // 4 096 units and a terminator.
    constexpr DWORD longest = 4096;
    WCHAR buffer[longest + 1];
    DWORD type = REG_NONE;
    DWORD count = sizeof buffer;
    const LONG status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &count);
    if (is_text) *is_text = (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) && type == REG_SZ;
    if (status != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
    const wview data(buffer, count / sizeof(WCHAR));
    const wview text = data.substr(0, data.find(u'\0'));
    if (text.empty() || text.size() > longest) return std::nullopt;
    return wtext(text);
}

std::optional<wtext> node_location(HKEY first, HKEY then) {
    std::optional<wtext> location = text_if_any(first, LOCATION_VALUE);
    if (!location && then) location = text_if_any(then, LOCATION_VALUE);
    return location;
}

std::optional<wtext> bus_reported_description(const wtext& instance_id) {
    const HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE) return std::nullopt;
    SP_DEVINFO_DATA node{};
    node.cbSize = sizeof node;
    // 4 096 units and a terminator.
    constexpr DWORD longest = 4096;
    WCHAR buffer[longest + 1];
    DEVPROPTYPE type = 0;
    DWORD size = 0;
    std::optional<wtext> text;
    if (SetupDiOpenDeviceInfoW(set, instance_id.c_str(), nullptr, 0, &node) &&
        SetupDiGetDevicePropertyW(set, &node, &BUS_REPORTED_DESCRIPTION_KEY, &type, reinterpret_cast<BYTE*>(buffer),
                                  sizeof buffer, &size, 0) &&
        type == DEVPROP_TYPE_STRING) {
        const wview data(buffer, std::min<DWORD>(size, sizeof buffer) / sizeof(WCHAR));
        const wview found = data.substr(0, data.find(u'\0'));
        if (!found.empty() && found.size() <= longest) text = wtext(found);
    }
    SetupDiDestroyDeviceInfoList(set);
    return text;
}

std::optional<wtext> hardware_revision(HKEY node_key) {
    WCHAR buffer[2048];
    DWORD type = REG_NONE;
    DWORD count = sizeof buffer;
    const LONG status = RegQueryValueExW(node_key, HARDWARE_ID_VALUE, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &count);
    if (status != ERROR_SUCCESS || type != REG_MULTI_SZ) return std::nullopt;
    return usb_revision(wview(buffer, count / sizeof(WCHAR)));
}

composite_map composite_devices(HKEY usb_key, const WCHAR* dev_name) {
    composite_map devices;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(usb_key, dev_name, 0, KEY_READ, &opened) != ERROR_SUCCESS) return devices;
    const owned_key dev_key(opened);
    each_subkey(
        dev_key.get(), nullptr, nullptr,
        [&](const WCHAR* name, HKEY inst_key) {
            if (const std::optional<wtext> prefix = text_if_any(inst_key, PARENT_ID_PREFIX_VALUE))
                devices.emplace(*prefix, name);
        },
        KEY_QUERY_VALUE);
    return devices;
}

const wtext* parent_in(const composite_map& devices, wview function) {
    // The prefixes function_of takes, in its order.
    auto found = devices.find(function);
    if (found == devices.end()) found = devices.find(parent_prefix(function));
    return found == devices.end() ? nullptr : &found->second;
}
