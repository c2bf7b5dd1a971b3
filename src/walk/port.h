// Whether one instance key is a serial port present now, and its listing line.
#pragma once

#include "main/scan_ctx.h"
#include "report/text.h"

#include <optional>

inline constexpr const WCHAR* PORTS_CLASS_GUID = TEXT("{4d36e978-e325-11ce-bfc1-08002be10318}");

// True when the key's "ClassGUID" value equals `guid` without regard to case.
bool class_matches(HKEY inst_key, const WCHAR* guid);

// The "PortName" value under the key's "Device Parameters" subkey, or none.
// A missing subkey ends the run with status 2.
std::optional<wtext> port_name(HKEY inst_key);

// True when the port-configuration service knows the port now.
bool port_present(const std::optional<wtext>& name);

// False when the run lists one location's ports (--at) and the port is
// elsewhere: its location (port_location) is another or none.
bool located_at(const scan_ctx& ctx, HKEY port_key, HKEY device_key);

// Prints the listing line for the instance key when it is a present serial
// port. `dev_name` is null in the filtered modes, `inst_name` in the S/N mode.
void show_port(const WCHAR* dev_name, const WCHAR* inst_name, const scan_ctx& ctx, HKEY inst_key);
