// String values from the registry.
#pragma once

#include "platform/platform.h"
#include "report/report.h"
#include "text/text.h"

#include <map>
#include <memory>
#include <optional>
#include <type_traits>

// Opens the registry's source for one look, with what the run needs. A
// source that cannot be read ends the run with its one line,
// "portsift: WHY", and status 2; a note of the source is written to
// standard error at once, once for the whole run, whatever is held.
void open_registry(const source_needs& needs);

// The registry's longest key name, 255 characters, and its terminator.
inline constexpr DWORD key_name_capacity = 256;

// The name of the `index`-th subkey of `parent` into `name` (RegEnumKeyExW),
// its length into `*length` when given: the status the call returns.
LONG subkey_name(HKEY parent, DWORD index, WCHAR (&name)[key_name_capacity], DWORD* length = nullptr);

struct key_closer {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
// A key closed when its holder goes, also when a held run ends early.
using owned_key = std::unique_ptr<std::remove_pointer_t<HKEY>, key_closer>;

// `name` under `parent`, opened for reading, or none when it does not exist;
// any other failure ends the run with `tag`, or gives none when it is null.
owned_key open_optional(HKEY parent, const WCHAR* name, const WCHAR* tag);

// Calls `each` with the name of every subkey of `parent` (a view of the
// enumeration's buffer), in the registry's order, until it returns false
// when it returns a bool. A failed enumeration ends the run with
// `enum_tag`, or, when that is null, ends the loop as if it were done.
template <typename Each>
void each_subkey_name(HKEY parent, const WCHAR* enum_tag, Each each);

// The same, with each subkey opened with `access` for `each(name, key)`
// and closed after. A failed open ends the run with `open_tag`, or, when
// that is null, passes the key by.
template <typename Each>
void each_subkey(HKEY parent, const WCHAR* enum_tag, const WCHAR* open_tag, Each each, REGSAM access = KEY_READ);

// Opens `name` under `parent` for reading values (KEY_QUERY_VALUE) into
// `*out`. Returns 0 when opened, 1 on any failure, leaving the status the
// open returned as the thread's last error. The caller closes the handle.
int reg_subkey(HKEY parent, const WCHAR* name, HKEY* out);

// Reads the REG_SZ value `name` of `key`: its text, or none when the value
// does not exist. Any other failure, data over 519 bytes, or another value
// type ends the run with status 2.
std::optional<wtext> strict_string(HKEY key, const WCHAR* name);

// Reads the REG_SZ value `name` of `key` when it holds text: none when it is
// absent, of another type, empty or longer than 4 096 UTF-16 units, or
// cannot be read. Never ends the run. `is_text`, when given, tells whether
// a REG_SZ value of that name was there, empty or not.
std::optional<wtext> text_if_any(HKEY key, const WCHAR* name, bool* is_text = nullptr);

// Where a node is, as the system names the place (its LocationInformation):
// `first`'s, or failing that `then`'s, which may be null. None when neither
// has one.
std::optional<wtext> node_location(HKEY first, HKEY then);

// The description the device node `instance_id` (USB\KEY\INSTANCE) reports
// for itself on its bus, read through SetupAPI: none where it has none, or
// it is not a string, empty or longer than 4 096 UTF-16 units. Never ends
// the run.
std::optional<wtext> bus_reported_description(const wtext& instance_id);

// The revision in the USB\VID_vvvv&PID_pppp&REV_rrrr entry of the node's
// HardwareID, four upper-case hex digits; none without one. Never ends
// the run.
std::optional<wtext> hardware_revision(HKEY node_key);

// The composite devices under the device key `dev_name` of the root
// `usb_key`: their instance names by ParentIdPrefix. Empty when there is no
// such key; never ends the run.
using composite_map = std::map<wtext, wtext, ascii_less_nocase>;
composite_map composite_devices(HKEY usb_key, const WCHAR* dev_name);

// The device in `devices` whose function (function_of) is the instance
// `function`, looked up by the prefixes that rule takes. Null when there is
// none.
const wtext* parent_in(const composite_map& devices, wview function);

template <typename Each>
void each_subkey_name(HKEY parent, const WCHAR* enum_tag, Each each) {
    WCHAR name[key_name_capacity];
    for (DWORD index = 0;; ++index) {
        DWORD length = 0;
        const LONG status = subkey_name(parent, index, name, &length);
        if (status == ERROR_NO_MORE_ITEMS || (status != ERROR_SUCCESS && !enum_tag)) return;
        if (status != ERROR_SUCCESS) fail_status(enum_tag, status);
        if constexpr (std::is_same_v<decltype(each(wview(name, length))), bool>) {
            if (!each(wview(name, length))) return;
        } else {
            each(wview(name, length));
        }
    }
}

template <typename Each>
void each_subkey(HKEY parent, const WCHAR* enum_tag, const WCHAR* open_tag, Each each, REGSAM access) {
    each_subkey_name(parent, enum_tag, [&](wview name) {
        HKEY key = nullptr;
        // The name is the enumeration's buffer, terminated.
        const LONG status = RegOpenKeyExW(parent, name.data(), 0, access, &key);
        if (status != ERROR_SUCCESS && open_tag) fail_status(open_tag, status);
        const owned_key held(status == ERROR_SUCCESS ? key : nullptr);
        if constexpr (std::is_same_v<decltype(each(name.data(), key)), bool>) {
            return status != ERROR_SUCCESS || each(name.data(), key);
        } else {
            if (status == ERROR_SUCCESS) each(name.data(), key);
        }
    });
}
