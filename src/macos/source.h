// What the macOS registry source and its watch share.
#pragma once

#include <cstdint>

// Serial clients the last look found without a name yet: each gets one a
// moment later, with no notification of its own.
unsigned unnamed_clients();

// Leaves out, from the next look on, the client with registry ID `id`,
// which was terminated but may linger in the registry a moment.
void forget_client(std::uint64_t id);
