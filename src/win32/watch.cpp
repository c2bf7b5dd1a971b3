// Waiting for device changes on Windows: a port's driver adds its value to
// SERIALCOMM when the port comes, and a device's first attach creates its
// keys under Enum\USB. Each key signals an event when it changes.
#include "platform/platform.h"
#include "registry/schema.h"

#include <cstdlib>
#include <iterator>

namespace {

struct watched_key {
    const WCHAR* path;
    BOOL subtree;
    HKEY key;
    HANDLE event;
};

watched_key watched[] = {
    {SERIALCOMM_PATH, FALSE, nullptr, nullptr},
    {USB_ENUM_PATH, TRUE, nullptr, nullptr},
    // FTDI's driver keeps its ports' nodes here (--all-ports).
    {FTDIBUS_ENUM_PATH, TRUE, nullptr, nullptr},
};

constexpr DWORD changes = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

// A watch's end requests: set by the console's control handler, which runs
// on a thread of its own.
HANDLE stop_event = nullptr;
volatile LONG ending = 0;

BOOL WINAPI on_control(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
    InterlockedExchange(&ending, 1);
    SetEvent(stop_event);
    // The main thread writes what is left and ends the process, status 0;
    // returning would let the system end it first.
    Sleep(INFINITE);
    return TRUE;
}

// Asks for the key's next change; opens it first when it is not open yet
// (SERIALCOMM exists only once a port has come).
void arm(watched_key& w) {
    if (!w.key && RegOpenKeyExW(HKEY_LOCAL_MACHINE, w.path, 0, KEY_NOTIFY, &w.key) != ERROR_SUCCESS) {
        w.key = nullptr;
        return;
    }
    if (!w.event) w.event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!w.event || RegNotifyChangeKeyValue(w.key, w.subtree, changes, w.event, TRUE) != ERROR_SUCCESS) {
        RegCloseKey(w.key);
        w.key = nullptr;
    }
}

}  // namespace

void watch_changes() {
    for (watched_key& w : watched) arm(w);
}

bool wait_for_change(unsigned milliseconds) {
    HANDLE events[std::size(watched) + 1];
    watched_key* owners[std::size(watched) + 1];
    DWORD count = 0;
    for (watched_key& w : watched) {
        if (!w.key) continue;
        owners[count] = &w;
        events[count++] = w.event;
    }
    const DWORD keys = count;
    if (stop_event) {
        if (ending) return true;
        owners[count] = nullptr;
        events[count++] = stop_event;
    }
    if (count == 0) {
        Sleep(milliseconds);
    } else {
        const DWORD woken = WaitForMultipleObjects(count, events, FALSE, milliseconds);
        // A wait that cannot be made must not turn into a busy loop.
        if (woken == WAIT_FAILED) Sleep(milliseconds);
        // The event that woke us is reset by the wait; the others are
        // looked at, and every one that fired asks for the next change.
        for (DWORD i = 0; i < keys; ++i)
            if (i == woken - WAIT_OBJECT_0 || WaitForSingleObject(events[i], 0) == WAIT_OBJECT_0) arm(*owners[i]);
    }
    // A key that could not be opened yet is tried again.
    for (watched_key& w : watched)
        if (!w.key) arm(w);
    return true;
}

void catch_end_requests() {
    stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(on_control, TRUE);
}

bool end_requested() { return ending != 0; }

// Quietly, with status 0: Windows has no SIGPIPE.
void exit_reader_gone() { std::exit(0); }
