// How Windows names USB devices in the registry, the one home of each rule:
// a model's key under Enum\USB, a composite device's function, the port
// keys FTDI's driver makes under Enum\FTDIBUS, and an instance name the
// system made up for a device without a usable serial number.
#pragma once

#include "text/text.h"

#include <optional>

// A 16-bit ID or release number as Windows writes it: four upper-case hex
// digits.
wtext hex_id(unsigned id);

// A model's key, VID_vvvv&PID_pppp, from the IDs as typed or as numbers
// (then as hex_id writes them).
wtext model_key(wview vid, wview pid);
wtext model_key(unsigned vid, unsigned pid);

// Whether a key name can name a device: at least 17 characters, VID_ at 0
// and PID_ at 9 (without regard to case); the separator and the digits are
// not checked.
bool device_key_valid(wview name);

// The VID, the PID, and the PID with what follows it (a function's "&MI_nn",
// the listing's PID field), in a key name that device_key_valid or
// ftdi_key_valid accepts.
wview key_vid(wview name);
wview key_pid(wview name);
wview key_pid_field(wview name);

// Where "&MI_" and two hexadecimal digits stand in a key name past its IDs:
// the interface of a composite device's function; npos when there is none.
std::size_t interface_at(wview dev_name);

// The interface number of the "&MI_nn" at `at` in `dev_name`.
unsigned interface_number(wview dev_name, std::size_t at);

// The name of the composite device's own key: `dev_name` without the
// "&MI_nn" at `at`.
wtext without_interface(wview dev_name, std::size_t at);

// The "&MI_nn" that names interface `number` (two upper-case hex digits).
wtext interface_suffix(unsigned number);

// Every function of a device, rather than the one a PID written pppp&MI_nn
// names.
inline constexpr int any_interface = -1;

// A PID written as the listing prints a function's, pppp&MI_nn: its
// interface number; any_interface for any other text.
int function_pid(wview pid);

// Whether the function instance `function` belongs to the composite device
// whose ParentIdPrefix is `prefix`: Windows names a function PREFIX&00nn,
// the Linux view PREFIX, or PREFIX&n for the n-th port of an interface
// with several. The prefix is thus the name itself or, failing that,
// parent_prefix of it.
bool function_of(wview function, wview prefix);

// A function instance's name up to its last "&"; the whole name when it
// holds none.
wview parent_prefix(wview function);

// The key FTDI's driver names a port's node after, VID_vvvv+PID_pppp+SUFFIX,
// and whether a key name has that form.
wtext ftdi_key(wview vid, wview pid, wview suffix);
bool ftdi_key_valid(wview name);

// Where an FTDI key name's SUFFIX starts.
inline constexpr std::size_t ftdi_suffix_at = 18;

// The revision of the first entry of `hardware_ids` (a multi-string) of
// the form USB\VID_vvvv&PID_pppp&REV_rrrr, in four upper-case hex digits;
// none where there is no such entry.
std::optional<wtext> usb_revision(wview hardware_ids);

// Whether the system made the instance name up (it holds "&"), as for a
// device without a usable serial number, rather than naming it after one.
bool made_up_instance(wview instance);
