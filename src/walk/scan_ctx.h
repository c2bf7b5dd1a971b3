// The run's one record: the filters from the command line, the open keys of
// the walk and the status of the last registry open or enumeration.
#pragma once

#include "registry/registry.h"

#include <vector>

struct listed_port;

struct scan_ctx {
    HKEY inst_key;         // instance (serial-number) key now open
    const WCHAR* serial;   // S/N filter, or null
    HKEY usb_key;          // SYSTEM\CurrentControlSet\Enum\USB
    HKEY dev_key;          // device (VID&PID) key now open
    const WCHAR* pid;      // PID filter, or null
    const WCHAR* vid;      // VID filter, or null
    LONG status;           // last open or enumeration status, 0 on success
    std::vector<listed_port>* listed;  // in a held look, the ports found, kept rather than printed; else null
    const WCHAR* at;       // with --at, the one location whose ports are listed; else null
    bool described;        // with --json: the ports kept carry their devices' descriptions and names
    // While the walk is in a function's key (with --at or --json), its
    // model's composite devices, read once for all its instances; else null.
    const composite_map* composites;
};
