#include "walk/port.h"

#include "walk/listed.h"

#include "registry/registry.h"
#include "registry/usb_names.h"
#include "report/report.h"
#include "report/tags.h"

bool class_matches(HKEY inst_key, const WCHAR* guid) {
    const std::optional<wtext> value = reg_string(inst_key, CLASS_GUID_VALUE);
    return value && ascii_equal_nocase(*value, guid);
}

std::optional<wtext> port_name(HKEY inst_key) {
    HKEY params = nullptr;
    if (reg_subkey(inst_key, DEVICE_PARAMETERS_KEY, &params) != 0)
        fail(tag::device_parameters);
    std::optional<wtext> name = reg_string(params, PORT_NAME_VALUE);
    RegCloseKey(params);
    return name;
}

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

std::optional<wtext> location_of(const found_port& found) {
    if (!found.function_node_key.empty() && found.device_key) return node_location(found.device_key, found.port_key);
    return node_location(found.port_key, found.device_key);
}

bool located_at(const scan_ctx& ctx, const found_port& found) {
    if (!ctx.at) return true;
    const std::optional<wtext> location = location_of(found);
    return location && ascii_equal_nocase(*location, ctx.at);
}

void show_port(const WCHAR* dev_name, const WCHAR* inst_name, const scan_ctx& ctx, HKEY inst_key) {
    if (!class_matches(inst_key, PORTS_CLASS_GUID)) return;
    const std::optional<wtext> name = port_name(inst_key);
    if (!port_present(name)) return;
    const bool named_by_key = !ctx.vid || !ctx.pid;
    if (named_by_key && !device_key_valid(dev_name)) {
        print_err(TEXT("invalid device key format: %s\n"), dev_name);
        return;
    }
    found_port found{};
    found.instance = inst_name ? inst_name : ctx.serial;
    const wtext model = named_by_key ? wtext() : model_key(ctx.vid, ctx.pid);
    found.device_node_key = named_by_key ? wview(dev_name) : wview(model);
    found.device_node_instance = found.instance;
    wtext parent_key;
    const wtext* parent = nullptr;
    owned_key parent_node;
    if (!named_by_key) {
        found.vid = ctx.vid;
        found.pid = found.pid_field = ctx.pid;
    } else {
        // The key's name names the device: VID_vvvv, a separator, PID_ and
        // the product ID with any suffix.
        const wview key(dev_name);
        found.vid = key.substr(4, 4);
        found.pid = key.substr(13, 4);
        found.pid_field = key.substr(13);
        if (const std::size_t mi = interface_at(key); mi != wview::npos) {
            found.interface = interface_number(key, mi);
            found.function_node_key = key;
            found.function_node_instance = found.instance;
            found.device_node_key = found.device_node_instance = {};
            // Its device's node tells where it is and what it is called.
            if (ctx.composites) {
                parent_key = without_interface(key, mi);
                parent = parent_in(*ctx.composites, found.instance);
            }
            if (parent) {
                found.device_node_key = parent_key;
                found.device_node_instance = *parent;
                parent_node = open_optional(ctx.usb_key, (parent_key + TEXT("\\") + *parent).c_str(), nullptr);
                found.device_key = parent_node.get();
            }
        }
    }
    found.port = *name;
    found.port_key = inst_key;
    show_found(ctx, found);
}

void show_found(const scan_ctx& ctx, const found_port& found) {
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
