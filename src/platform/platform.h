// What portsift needs from the system it runs on. The registry, port and
// error-text calls are the Windows ones, from <windows.h>: the system's own
// on Windows; on Linux and macOS the emulation in src/winapi, which serves
// the image a registry source makes (src/linux, src/macos). Beside them,
// each system provides the calls below: output.cpp (the standard streams
// and the process's end; src/posix for Linux and macOS), source.cpp (the
// registry's source), ports.cpp (the port queries) and watch.cpp (changes,
// and a watch's end; src/posix/ends.cpp the end requests on both) in
// src/win32, src/linux and src/macos.
#pragma once

#include <windows.h>
// The device-information calls, which read a device node's properties.
#include <setupapi.h>

#include <cstddef>
#include <string>

enum class out_stream { standard_output, standard_error };

// --- output.cpp ---

// Writes `count` UTF-16 units of `text` to the stream: UTF-8 to a file or a
// pipe (a lone surrogate becomes U+FFFD), the characters themselves to a
// Windows console. Standard error is written at once; standard output may
// be held until flush_output. False when the stream could not be written (a
// full disk, a closed handle), with the reason as the thread's last error:
// ERROR_BROKEN_PIPE, ERROR_NO_DATA or ERROR_PIPE_NOT_CONNECTED when the
// reader has gone.
bool write_text(out_stream stream, const WCHAR* text, std::size_t count);

// Writes what standard output holds; false as for write_text.
bool flush_output();

// Ends the process with `status`; standard output was flushed before.
[[noreturn]] void exit_process(int status);

// --- source.cpp ---

// What a run needs the registry to carry, beyond the walk's keys and values.
struct source_needs {
    bool descriptions = false;  // each device's description, maker, serial number and location (--json)
    bool locations = false;     // each device's location (--at)
    bool ready_ports = false;   // a port present only once it can be opened (--wait, --watch)
};

// What opening the registry's source found: both texts UTF-8, without
// the "portsift: " before them or a line end.
struct source_outcome {
    std::string refusal;  // why the source cannot be read; empty when it was opened
    std::string note;     // what to say once of the source opened; empty for none
};

// Opens the registry's source afresh for one look, with what the run
// needs: the registry calls then read it until the next open. On Windows
// the registry is the system's own, always open and carrying all of it.
// On Linux the source is the recorded Mac's IO registry named by
// PORTSIFT_IOREG, the export named by PORTSIFT_REGISTRY, or else the USB
// devices under the sysfs root (PORTSIFT_SYSFS, or /sys), read now; with
// ready_ports, the ttys udev has not set up yet are held back from the
// first open on (see wait_for_change). On macOS it is the IO registry,
// read now: a port is there once its driver has named it.
source_outcome open_registry_source(const source_needs& needs);

// --- ports.cpp ---

// Called before each port query. May keep the system's port-configuration
// provider loaded for the rest of the run, so that each query does not load
// and free it again; loads it from the system directory only. Leaves the
// thread's last-error code as it found it.
void prepare_port_query();

// --- watch.cpp ---

// Waiting for a device to come (--wait). watch_changes starts watching the
// system's record of the devices; it is called once, before the first try,
// so that a change during a try is not missed. wait_for_change blocks until
// the system reports a change there or `milliseconds` pass. It returns false
// when nothing the next try would read can have changed (a registry export
// whose size and modification time are the same); otherwise true: the
// next look opens the source afresh.
void watch_changes();
bool wait_for_change(unsigned milliseconds);

// Handing over ports that can be opened (--wait, --watch: ready_ports
// above): a port counts as present only once the system has finished
// setting it up, or 5 seconds after it was first seen (the set-up may be
// stuck, or ignore it); wait_for_change also returns when a port's set-up
// finishes, and by the time the oldest unfinished one is to be handed over
// anyway. On Linux where udev runs, a tty is set up once udev has written
// its record; Windows names a port only once it is set up.

// Watching until told to stop (--watch): from this call on, SIGINT, SIGTERM
// and SIGHUP on Linux and macOS, and Ctrl-C, Ctrl-Break and the console closing on
// Windows, no longer end the process but make end_requested true, and
// wait_for_change returns as soon as one comes (on macOS within a tenth of
// a second); a reader of standard output
// that goes away makes a write fail rather than end the process. The
// process then ends itself, with what it wrote flushed.
void catch_end_requests();
bool end_requested();

// Ends the process as programs end whose reader has gone away: quietly, with
// status 0, on Windows and in a watch (catch_end_requests); on Linux and
// macOS otherwise by SIGPIPE, as a write to the closed pipe does.
[[noreturn]] void exit_reader_gone();
