// The registry, port and error-text calls of the Linux emulation, served
// from the image a registry source made (serve_image).
#include "winapi/image.h"

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <optional>
#include <unordered_set>
#include <vector>

namespace {

thread_local DWORD last_error = 0;

struct open_key {
    const image_key* key;  // null while the slot is free
    REGSAM access;
    // The subkey last enumerated, plus one: opening it needs no search.
    DWORD next_index;
};

// The ports that exist now: their names, one after another, and a view of
// each.
struct port_set {
    wtext names;
    std::unordered_set<wview, name_hash, name_equal> views;
};

// Open keys live in numbered slots, a closed one's slot reused; a handle
// is its slot's number plus one, times four, as Windows' handles are
// multiples of four (HKEY_LOCAL_MACHINE is not).
struct handle_table {
    std::vector<open_key> slots;
    std::vector<std::size_t> free;

    HKEY open(const open_key& key) {
        std::size_t slot = slots.size();
        if (free.empty()) {
            slots.push_back(key);
        } else {
            slot = free.back();
            free.pop_back();
            slots[slot] = key;
        }
        return reinterpret_cast<HKEY>((slot + 1) * 4);
    }
    open_key* find(HKEY handle) {
        const auto value = reinterpret_cast<std::uintptr_t>(handle);
        if (value % 4 || !value || value / 4 > slots.size()) return nullptr;
        open_key& key = slots[value / 4 - 1];
        return key.key ? &key : nullptr;
    }
    bool close(HKEY handle) {
        open_key* key = find(handle);
        if (!key) return false;
        key->key = nullptr;
        free.push_back(static_cast<std::size_t>(key - slots.data()));
        return true;
    }
    void clear() {
        slots.clear();
        free.clear();
    }
};

struct registry_state {
    std::unique_ptr<reg_image> image = std::make_unique<reg_image>();
    unsigned served = 0;  // images served so far: a node found in an earlier one is looked up again
    open_key root{.key = &image->hklm, .access = KEY_READ, .next_index = 0};  // HKEY_LOCAL_MACHINE
    port_set ports;                            // the ports that exist now
    handle_table handles;
};

// Follows a backslash-separated path; a trailing backslash is ignored.
LSTATUS find_path(const image_key* key, wview path, const image_key*& found) {
    constexpr LSTATUS bad_pathname = 161;
    if (!path.empty() && path.front() == u'\\') return bad_pathname;
    while (!path.empty()) {
        const std::size_t slash = path.find(u'\\');
        const wview name = path.substr(0, slash);
        if (name.empty()) return bad_pathname;
        key = find_subkey(*key, name);
        if (!key) return ERROR_FILE_NOT_FOUND;
        path = slash == wview::npos ? wview() : path.substr(slash + 1);
    }
    found = key;
    return ERROR_SUCCESS;
}

// The ports the image's port map names: the data of its string values.
void find_present_ports(const reg_image& image, port_set& ports) {
    ports = {};
    if (!image.port_map) return;
    // Each name ends at its data's first terminator.
    const auto bytes_of = [](const image_value& value) {
        std::size_t size = 0;
        while (size + 1 < value.data.size() && (value.data[size] || value.data[size + 1])) size += 2;
        return std::string_view(reinterpret_cast<const char*>(value.data.data()), size);
    };
    const auto values = image.port_map->values;
    std::size_t total = 0;
    for (const image_value& value : values) total += value.data.size() / 2;
    // Reserved for all the data, and never in the text's own small buffer,
    // so that no view moves, whatever becomes of the set.
    ports.names.reserve(std::max<std::size_t>(total, 16));
    ports.views.reserve(values.size());
    for (const image_value& value : values) {
        if (value.type != REG_SZ) continue;
        const std::size_t start = ports.names.size();
        append_utf16le(ports.names, bytes_of(value));
        ports.views.insert(wview(ports.names).substr(start));
    }
}

// Handles left open at exit stay reachable, as the process end releases
// them on Windows.
registry_state& state() {
    static auto* state = new registry_state{};
    return *state;
}

open_key* resolve(HKEY handle) {
    registry_state& st = state();
    if (handle == HKEY_LOCAL_MACHINE) return &st.root;
    return st.handles.find(handle);
}

// A set of device nodes: their instance IDs, and each one's key in the
// image it was found in.
struct device_set {
    struct member {
        wtext id;
        const image_key* key;
        unsigned served;
    };
    std::vector<member> nodes;
};

const image_key* device_node(const wtext& id) {
    // The device tree of the image served now, found once.
    static unsigned found_in = ~0u;
    static const image_key* tree = nullptr;
    if (found_in != state().served) found_in = state().served, tree = find_key(state().image->hklm, DEVICE_TREE_PATH);
    return tree ? find_key(*tree, id) : nullptr;
}

struct system_text {
    DWORD code;
    const WCHAR* text;
};

constexpr system_text system_texts[] = {
    {0, TEXT("The operation completed successfully.\r\n")},
    {1, TEXT("Incorrect function.\r\n")},
    {2, TEXT("The system cannot find the file specified.\r\n")},
    {3, TEXT("The system cannot find the path specified.\r\n")},
    {5, TEXT("Access is denied.\r\n")},
    {6, TEXT("The handle is invalid.\r\n")},
    {8, TEXT("Not enough memory resources are available to process this command.\r\n")},
    {13, TEXT("The data is invalid.\r\n")},
    {29, TEXT("The system cannot write to the specified device.\r\n")},
    {87, TEXT("The parameter is incorrect.\r\n")},
    {109, TEXT("The pipe has been ended.\r\n")},
    {112, TEXT("There is not enough space on the disk.\r\n")},
    {122, TEXT("The data area passed to a system call is too small.\r\n")},
    {161, TEXT("The specified path is invalid.\r\n")},
    {223, TEXT("The file size exceeds the limit allowed and cannot be saved.\r\n")},
    {232, TEXT("The pipe is being closed.\r\n")},
    {234, TEXT("More data is available.\r\n")},
    {259, TEXT("No more data is available.\r\n")},
    {1009, TEXT("The configuration registry database is corrupt.\r\n")},
    {1010, TEXT("The configuration registry key is invalid.\r\n")},
    {1011, TEXT("The configuration registry key could not be opened.\r\n")},
    {1012, TEXT("The configuration registry key could not be read.\r\n")},
    {1018, TEXT("Illegal operation attempted on a registry key that has been marked for deletion.\r\n")},
    {1629, TEXT("Data supplied is of wrong type.\r\n")},
};

}  // namespace

void serve_image(std::unique_ptr<reg_image> image) {
    registry_state& st = state();
    st.handles.clear();
    st.image = std::move(image);
    ++st.served;
    st.root = open_key{.key = &st.image->hklm, .access = KEY_READ, .next_index = 0};
    find_present_ports(*st.image, st.ports);
}

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    open_key* parent = resolve(hKey);
    if (!parent || !phkResult) return ERROR_INVALID_HANDLE;
    const image_key* found = nullptr;
    const wview path = lpSubKey ? wview(lpSubKey) : wview();
    const image_key* last = parent->next_index ? &parent->key->children[parent->next_index - 1] : nullptr;
    if (last && path == last->name) {
        found = last;
    } else if (const LSTATUS status = find_path(parent->key, path, found); status != ERROR_SUCCESS) {
        return status;
    }
    *phkResult = state().handles.open(open_key{.key = found, .access = samDesired, .next_index = 0});
    return ERROR_SUCCESS;
}

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD, LPWSTR, LPDWORD, void*) {
    open_key* key = resolve(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    if (!(key->access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
    const auto children = key->key->children;
    if (dwIndex >= children.size()) return ERROR_NO_MORE_ITEMS;
    const wview name = children[dwIndex].name;
    if (name.size() + 1 > *lpcchName) return ERROR_MORE_DATA;
    std::memcpy(lpName, name.data(), name.size() * sizeof(WCHAR));
    lpName[name.size()] = 0;
    *lpcchName = static_cast<DWORD>(name.size());
    key->next_index = dwIndex + 1;
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    open_key* key = resolve(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    if (!(key->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
    const std::optional<image_value> found = find_value(*key->key, wview(lpValueName ? lpValueName : TEXT("")));
    if (!found) return ERROR_FILE_NOT_FOUND;
    const image_value& value = *found;
    if (lpType) *lpType = value.type;
    const auto size = static_cast<DWORD>(value.data.size());
    if (lpData && size > *lpcbData) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (lpData && size) std::memcpy(lpData, value.data.data(), size);
    if (lpcbData) *lpcbData = size;
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY hKey) {
    if (hKey == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
    return state().handles.close(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

BOOL GetDefaultCommConfigW(LPCWSTR lpszName, LPCOMMCONFIG lpCC, LPDWORD lpdwSize) {
    if (!lpszName || !lpCC || !lpdwSize) {
        last_error = ERROR_INVALID_PARAMETER;
        return 0;
    }
    if (*lpdwSize < sizeof(COMMCONFIG)) {
        *lpdwSize = sizeof(COMMCONFIG);
        last_error = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    if (!state().ports.views.count(wview(lpszName))) {
        last_error = ERROR_INVALID_PARAMETER;
        return 0;
    }
    std::memset(lpCC, 0, sizeof(COMMCONFIG));
    lpCC->dwSize = sizeof(COMMCONFIG);
    lpCC->wVersion = 1;
    lpCC->dcb.DCBlength = sizeof(DCB);
    lpCC->dcb.BaudRate = 9600;
    lpCC->dcb.ByteSize = 8;
    *lpdwSize = sizeof(COMMCONFIG);
    return 1;
}

HDEVINFO SetupDiCreateDeviceInfoList(const GUID*, HWND) { return new device_set; }

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    delete static_cast<device_set*>(DeviceInfoSet);
    return 1;
}

BOOL SetupDiOpenDeviceInfoW(HDEVINFO DeviceInfoSet, LPCWSTR DeviceInstanceId, HWND, DWORD,
                            PSP_DEVINFO_DATA DeviceInfoData) {
    auto* set = static_cast<device_set*>(DeviceInfoSet);
    if (!set || set == INVALID_HANDLE_VALUE || !DeviceInstanceId || !DeviceInfoData ||
        DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        last_error = ERROR_INVALID_PARAMETER;
        return 0;
    }
    // An ID holds no empty step and does not start or end with one.
    const wview id(DeviceInstanceId);
    const bool well_formed =
        !id.empty() && id.front() != u'\\' && id.back() != u'\\' && id.find(TEXT("\\\\")) == wview::npos;
    const image_key* key = well_formed ? device_node(wtext(id)) : nullptr;
    if (!key) {
        last_error = ERROR_NO_SUCH_DEVINST;
        return 0;
    }
    set->nodes.push_back({.id = wtext(id), .key = key, .served = state().served});
    *DeviceInfoData = SP_DEVINFO_DATA{.cbSize = sizeof(SP_DEVINFO_DATA),
                                      .ClassGuid = {},
                                      .DevInst = static_cast<DWORD>(set->nodes.size()),
                                      .Reserved = 0};
    return 1;
}

BOOL SetupDiGetDevicePropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, const DEVPROPKEY* PropertyKey,
                               DEVPROPTYPE* PropertyType, BYTE* PropertyBuffer, DWORD PropertyBufferSize,
                               DWORD* RequiredSize, DWORD Flags) {
    const auto* set = static_cast<const device_set*>(DeviceInfoSet);
    if (!set || set == INVALID_HANDLE_VALUE || !DeviceInfoData || !PropertyKey || !PropertyType || Flags ||
        DeviceInfoData->DevInst == 0 || DeviceInfoData->DevInst > set->nodes.size() ||
        (!PropertyBuffer && PropertyBufferSize)) {
        last_error = ERROR_INVALID_PARAMETER;
        return 0;
    }
    // The path of the property last asked for, made once.
    static DEVPROPKEY asked{};
    static wtext path = property_path(asked);
    if (std::memcmp(&asked, PropertyKey, sizeof asked) != 0) asked = *PropertyKey, path = property_path(asked);
    const device_set::member& member = set->nodes[DeviceInfoData->DevInst - 1];
    const image_key* node = member.served == state().served ? member.key : device_node(member.id);
    const image_key* property = node ? find_key(*node, path) : nullptr;
    const std::optional<image_value> value = property ? find_value(*property, TEXT("")) : std::nullopt;
    if (!value || (value->type & 0xFFFF0000u) != 0xFFFF0000u) {
        last_error = ERROR_NOT_FOUND;
        return 0;
    }
    *PropertyType = value->type & 0xFFFFu;
    const auto size = static_cast<DWORD>(value->data.size());
    if (RequiredSize) *RequiredSize = size;
    if (size > PropertyBufferSize) {
        last_error = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    if (size) std::memcpy(PropertyBuffer, value->data.data(), size);
    return 1;
}

DWORD GetLastError() { return last_error; }

void SetLastError(DWORD dwErrCode) { last_error = dwErrCode; }

DWORD FormatMessageW(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD, LPWSTR lpBuffer, DWORD, void*) {
    constexpr DWORD mr_mid_not_found = 317;
    if (dwFlags != (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER) || !lpBuffer) {
        last_error = ERROR_INVALID_PARAMETER;
        return 0;
    }
    for (const system_text& entry : system_texts) {
        if (entry.code != dwMessageId) continue;
        const std::size_t length = std::char_traits<WCHAR>::length(entry.text);
        auto* copy = new WCHAR[length + 1];
        std::memcpy(copy, entry.text, (length + 1) * sizeof(WCHAR));
        *reinterpret_cast<WCHAR**>(lpBuffer) = copy;
        return static_cast<DWORD>(length);
    }
    last_error = mr_mid_not_found;
    return 0;
}

HLOCAL LocalFree(HLOCAL hMem) {
    delete[] static_cast<WCHAR*>(hMem);
    return nullptr;
}
