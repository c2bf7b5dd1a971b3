// The port queries on Windows.
#include "platform/platform.h"

void prepare_port_query() {
    // Without this, each GetDefaultCommConfigW loads the provider (and, under
    // Wine, user32 and gdi32 with it) and frees it again: most of a query's
    // cost. Loading it from System32 alone keeps a DLL of the same name in
    // the program's folder or the current one from being picked up.
    static bool tried = false;
    if (tried) return;
    tried = true;
    const DWORD saved = GetLastError();
    LoadLibraryExW(L"serialui.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetLastError(saved);
}
