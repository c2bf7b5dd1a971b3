#include "walk/listed.h"

#include "registry/registry.h"
#include "registry/schema.h"
#include "registry/usb_names.h"

namespace {

// A text as shown: "@file.inf,%key%;Text", an indirect string, shows Text.
std::optional<wtext> shown_text(std::optional<wtext> value) {
    if (!value || value->front() != u'@') return value;
    const std::size_t semicolon = value->find(u';');
    if (semicolon == wtext::npos || semicolon + 1 == value->size()) return std::nullopt;
    return value->substr(semicolon + 1);
}

// The device's own serial number. The Linux view records the kernel's in
// SerialNumber (empty when there is none). Windows names an instance after
// it unless it made the name up; a composite device's function takes its
// device's, which the walk found.
std::optional<wtext> serial_number(const found_port& found) {
    bool recorded = false;
    std::optional<wtext> serial = text_if_any(found.port_key, SERIAL_NUMBER_VALUE, &recorded);
    if (recorded) return serial;
    if (!made_up_instance(found.instance)) return wtext(found.instance);
    const wview device = found.device_node_instance;
    if (found.function_node_key.empty() || device.empty() || made_up_instance(device)) return std::nullopt;
    return wtext(device);
}

// The instance ID of the node `key`\`instance` under Enum\USB.
wtext instance_id(wview key, wview instance) {
    return wtext(USB_ENUMERATOR).append(1, u'\\').append(key).append(1, u'\\').append(instance);
}

// The board's own words for the port: its device node's product string and
// revision, and a function's interface string where it is not the
// product's again.
void board_names(const found_port& found, listed_port& listed) {
    if (!found.device_node_key.empty()) {
        listed.product = bus_reported_description(instance_id(found.device_node_key, found.device_node_instance));
        listed.revision = hardware_revision(found.device_key ? found.device_key : found.port_key);
    }
    if (!found.function_node_key.empty()) {
        listed.interface_name =
            bus_reported_description(instance_id(found.function_node_key, found.function_node_instance));
        if (listed.interface_name == listed.product) listed.interface_name.reset();
    }
}

}  // namespace

void keep_port(std::vector<listed_port>& ports, const scan_ctx& ctx, const found_port& found, wtext line) {
    listed_port listed;
    listed.line = std::move(line);
    listed.port = found.port;
    listed.vid = found.vid;
    listed.pid = found.pid;
    listed.interface = found.interface;
    listed.instance = found.instance;
    if (ctx.described) {
        listed.serial = serial_number(found);
        listed.location = location_of(found);
        listed.description = shown_text(text_if_any(found.port_key, DEVICE_DESC_VALUE));
        if (!listed.description) listed.description = shown_text(text_if_any(found.port_key, FRIENDLY_NAME_VALUE));
        listed.manufacturer = shown_text(text_if_any(found.port_key, MFG_VALUE));
        board_names(found, listed);
    }
    ports.push_back(std::move(listed));
}
