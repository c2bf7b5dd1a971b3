#include "walk/port.h"

#include "walk/listed.h"

#include "registry/registry.h"
#include "registry/usb_names.h"
#include "report/report.h"
#include "report/tags.h"

namespace {

// The "PortName" value under the key's "Device Parameters" subkey, or none.
std::optional<wtext> port_name(HKEY inst_key) {
    HKEY params = nullptr;
    if (reg_subkey(inst_key, DEVICE_PARAMETERS_KEY, &params) != 0)
        fail(tag::device_parameters);
    std::optional<wtext> name = strict_string(params, PORT_NAME_VALUE);
    RegCloseKey(params);
    return name;
}

}  // namespace

bool port_present(const std::optional<wtext>& name) {
    if (!name) return false;
    prepare_port_query();
    COMMCONFIG config{};
    DWORD size = sizeof(config);
    if (GetDefaultCommConfigW(name->c_str(), &config, &size)) return true;
    const DWORD error = GetLastError();
    // The port of a detached device is unknown to the service.
    if (error == ERROR_INVALID_PARAMETER) return false;
    // The port exists; its provider only wants a larger record than ours.
    if (error == ERROR_INSUFFICIENT_BUFFER) return true;
    fail(tag::port_query);
}

std::optional<wtext> present_port(HKEY key, port_classes classes) {
    // Read once for both classes: most nodes are of neither.
    const std::optional<wtext> guid = strict_string(key, CLASS_GUID_VALUE);
    if (!guid || !(ascii_equal_nocase(*guid, PORTS_CLASS_GUID) ||
                   (classes == port_classes::ports_and_modems && ascii_equal_nocase(*guid, MODEM_CLASS_GUID))))
        return std::nullopt;
    std::optional<wtext> name = port_name(key);
    if (!port_present(name)) return std::nullopt;
    return name;
}

found_port named_by_key(wview dev_name, wview instance, wtext& device_model) {
    found_port found{.vid = key_vid(dev_name),
                     .pid = key_pid(dev_name),
                     .pid_field = key_pid_field(dev_name),
                     .instance = instance,
                     .device_node_key = dev_name,
                     .device_node_instance = instance};
    if (const std::size_t mi = interface_at(dev_name); mi != wview::npos) {
        found.interface = interface_number(dev_name, mi);
        found.function_node_key = dev_name, found.function_node_instance = instance;
        found.device_node_key = found.device_node_instance = {};
        device_model = without_interface(dev_name, mi);
    }
    return found;
}

owned_key name_by_device(found_port& found, HKEY usb_key, const wtext& device_model, const wtext& instance, bool open) {
    found.device_node_key = device_model, found.device_node_instance = instance;
    return open ? open_optional(usb_key, (device_model + TEXT("\\") + instance).c_str(), nullptr) : owned_key();
}

std::optional<wtext> location_of(const found_port& found) {
    if (!found.function_node_key.empty() && found.device_key) return node_location(found.device_key, found.port_key);
    return node_location(found.port_key, found.device_key);
}

bool located_at(const scan_ctx& ctx, const found_port& found) {
    if (!ctx.at) return true;
    const std::optional<wtext> location = location_of(found);
    return location && ascii_equal_nocase(*location, ctx.at);
}

void list_if_port(const WCHAR* dev_name, const WCHAR* inst_name, const scan_ctx& ctx, HKEY inst_key) {
    const std::optional<wtext> port = present_port(inst_key, port_classes::ports);
    if (!port) return;
    const bool named_by_key_name = !ctx.vid || !ctx.pid;
    if (named_by_key_name && !device_key_valid(dev_name)) {
        print_err(TEXT("invalid device key format: %s\n"), dev_name);
        return;
    }
    const wview instance = inst_name ? inst_name : ctx.serial;
    const wtext model = named_by_key_name ? wtext() : model_key(ctx.vid, ctx.pid);
    wtext device_model;
    owned_key device_node;
    found_port found;
    if (!named_by_key_name) {
        found = {.vid = ctx.vid,
                 .pid = ctx.pid,
                 .pid_field = ctx.pid,
                 .instance = instance,
                 .device_node_key = model,
                 .device_node_instance = instance};
    } else {
        found = named_by_key(dev_name, instance, device_model);
        // A function keeps its own instance name; its device's node tells
        // where it is and what it is called.
        if (found.interface && ctx.composites)
            if (const wtext* parent = parent_in(*ctx.composites, found.instance)) {
                device_node = name_by_device(found, ctx.usb_key, device_model, *parent, true);
                found.device_key = device_node.get();
            }
    }
    found.port = *port;
    found.port_key = inst_key;
    list_if_located(ctx, found);
}

void list_if_located(const scan_ctx& ctx, const found_port& found) {
    if (!located_at(ctx, found)) return;
    wtext line;
    line.reserve(found.vid.size() + found.pid_field.size() + found.instance.size() + found.port.size() + 3);
    if (!ctx.vid) line.append(found.vid).append(1, u' ').append(found.pid_field).append(1, u' ');
    if (!ctx.serial) line.append(found.instance).append(1, u' ');
    line.append(found.port);
    if (!ctx.listed) {
        print_out(TEXT("%s\n"), line.c_str());
        return;
    }
    keep_port(*ctx.listed, ctx, found, std::move(line));
    note_port_kept();
}
