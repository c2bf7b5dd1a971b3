// The registry's source on macOS: the USB serial ports in the IO registry,
// read through IOKit at each look and shaped as Windows would record them.
#include "macos/source.h"

#include "ioservice/ioservice.h"
#include "platform/platform.h"
#include "usb/usb.h"

#include <unordered_set>

namespace {

unsigned unnamed = 0;
std::unordered_set<std::uint64_t> terminated;

}  // namespace

unsigned unnamed_clients() { return unnamed; }

void forget_client(std::uint64_t id) { terminated.insert(id); }

source_outcome open_registry_source(const source_needs& needs) {
    const io_registry_ports found = io_registry_devices(needs, terminated);
    unnamed = found.unnamed;
    serve_image(shape_registry(found.devices, needs));
    return {};
}
