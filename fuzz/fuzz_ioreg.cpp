// The IO registry dump reader, and the macOS reader over what it read: a
// dump must be read or refused without a crash or hang, and any registry
// it gives must be read into ports and shaped into the registry image.
#include "ioreg/ioreg.h"
#include "ioservice/ioservice.h"

#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string why;
    auto registry = read_ioreg(std::string_view(reinterpret_cast<const char*>(data), size), why);
    if (!registry) return 0;
    serve_io_image(std::move(registry));
    const source_needs needs{.descriptions = true, .locations = true};
    serve_image(shape_registry(io_registry_devices(needs).devices, needs));
    return 0;
}
