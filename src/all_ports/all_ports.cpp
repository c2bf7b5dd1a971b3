#include "all_ports/all_ports.h"

#include "registry/registry.h"
#include "registry/schema.h"
#include "registry/usb_names.h"
#include "report/report.h"
#include "report/tags.h"
#include "walk/port.h"
#include "walk/walk.h"

#include <map>
#include <optional>
#include <vector>

namespace {

// FT4232H, the largest of FTDI's chips, has four channels, A to D.
constexpr unsigned ftdi_channels = 4;

struct device_scan {
    scan_ctx& ctx;
    int interface;        // the one function asked for, or any_interface
    owned_key ftdi_key;    // Enum\FTDIBUS, null where FTDI's driver never ran
    std::optional<std::vector<wtext>> functions;  // the model's VID&PID&MI_nn keys, once read
    // The composite devices of each model, by device key name: noted as
    // the full listing walks a model's key, which comes before its
    // functions' keys, or read when a function comes first.
    std::map<wtext, composite_map, ascii_less_nocase> composites;
};

// Lists a port of a device (list_if_located) from what its line names it
// by, its port and its keys.
void list_device_port(const device_scan& scan, found_port found, const wtext& port, HKEY port_key, HKEY device_key) {
    found.port = port;
    found.port_key = port_key;
    found.device_key = device_key;
    list_if_located(scan.ctx, found);
}

// "&" and a decimal number of at most three digits from 1 at `at`: the
// number, or 0.
unsigned amp_number(wview text, std::size_t at) {
    if (at >= text.size() || text[at] != u'&' || text.size() - at < 2 || text.size() - at > 4) return 0;
    unsigned n = 0;
    for (WCHAR c : text.substr(at + 1)) {
        if (c < u'0' || c > u'9') return 0;
        n = n * 10 + static_cast<unsigned>(c - u'0');
    }
    return n;
}

bool is_composite(HKEY device_key) {
    const std::optional<wtext> service = strict_string(device_key, SERVICE_VALUE);
    return service && ascii_equal_nocase(*service, COMPOSITE_SERVICE);
}

// --- Every port, in the registry's order --------------------------------

// A node under Enum\USB: a function is named by its composite device when
// that is found, and keeps its own instance name when it is not.
void list_usb_node(device_scan& scan, composite_map* model, const WCHAR* dev_name, const WCHAR* inst_name,
                   HKEY inst_key) {
    if (model)
        if (std::optional<wtext> prefix = text_if_any(inst_key, PARENT_ID_PREFIX_VALUE))
            // Instances enumerate in order, and on Linux a prefix is its
            // instance's name: most go at the end.
            model->emplace_hint(model->end(), std::move(*prefix), inst_name);
    const std::optional<wtext> port = present_port(inst_key, port_classes::ports_and_modems);
    if (!port) return;
    const wview name(dev_name);
    if (!device_key_valid(name)) {
        print_err(TEXT("invalid device key format: %s\n"), dev_name);
        return;
    }
    wtext device_model;
    found_port found = named_by_key(name, inst_name, device_model);
    owned_key device_key;
    if (found.interface) {
        auto devices = scan.composites.find(device_model);
        if (devices == scan.composites.end())
            devices = scan.composites.emplace(device_model, composite_devices(scan.ctx.usb_key, device_model.c_str())).first;
        // A function is named by its device, whose node tells where it is
        // and what it is called.
        if (const wtext* parent = parent_in(devices->second, inst_name)) {
            found.instance = *parent;
            device_key = name_by_device(found, scan.ctx.usb_key, device_model, *parent, scan.ctx.described || scan.ctx.at);
        }
    }
    list_device_port(scan, found, *port, inst_key, device_key.get());
}

// The USB device an FTDI port node's suffix names, under the model's key:
// a chip with a serial number S has suffixes S and a channel letter; one
// without has its instance name, or that name, & and the channel from 1.
struct ftdi_chip {
    wtext instance;
    std::optional<unsigned> interface;  // the channel of a multi-port chip
    owned_key key;
};

std::optional<ftdi_chip> chip_of(HKEY usb_key, wview model, wview suffix) {
    const owned_key model_key = open_optional(usb_key, wtext(model).c_str(), nullptr);
    if (!model_key) return std::nullopt;
    std::optional<ftdi_chip> chip;
    each_subkey_name(model_key.get(), nullptr, [&](wview instance) {
        const bool made_up = made_up_instance(instance);
        if (!ascii_starts_nocase(suffix, instance)) return true;
        const WCHAR last = suffix.back();
        const bool lettered = !made_up && suffix.size() == instance.size() + 1 && last >= u'A' && last <= u'Z';
        const unsigned channel = made_up ? amp_number(suffix, instance.size()) : 0;
        if (!lettered && !(made_up && (suffix.size() == instance.size() || channel))) return true;
        HKEY key = nullptr;
        if (RegOpenKeyExW(model_key.get(), instance.data(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        chip = ftdi_chip{.instance = wtext(instance), .interface = std::nullopt, .key = owned_key(key)};
        if (channel) chip->interface = channel - 1;
        if (lettered && is_composite(key)) chip->interface = static_cast<unsigned>(last - u'A');
        return false;
    });
    return chip;
}

void list_ftdi_node(const device_scan& scan, const WCHAR* key_name, HKEY port_key) {
    const std::optional<wtext> port = present_port(port_key, port_classes::ports_and_modems);
    if (!port) return;
    const wview name(key_name);
    if (!ftdi_key_valid(name)) {
        print_err(TEXT("invalid device key format: %s\n"), key_name);
        return;
    }
    const wview vid = key_vid(name), pid = key_pid(name), suffix = name.substr(ftdi_suffix_at);
    const std::optional<ftdi_chip> chip = chip_of(scan.ctx.usb_key, model_key(vid, pid), suffix);
    found_port found{.vid = vid, .pid = pid, .pid_field = pid, .instance = suffix};
    wtext pid_field;
    const wtext model = model_key(vid, pid);
    if (chip) {
        found.instance = chip->instance;
        found.device_node_key = model, found.device_node_instance = chip->instance;
        found.interface = chip->interface;
        if (chip->interface) found.pid_field = pid_field = wtext(pid) + interface_suffix(*chip->interface);
    }
    list_device_port(scan, found, *port, port_key, chip ? chip->key.get() : nullptr);
}

void list_every_port(device_scan& scan) {
    each_subkey(scan.ctx.usb_key, tag::enum_devices,
                tag::open_device, [&](const WCHAR* dev_name, HKEY dev_key) {
                    // A model's own key: its composite devices are noted on the way.
                    composite_map* model = interface_at(dev_name) == wview::npos
                                               ? &scan.composites.try_emplace(dev_name).first->second
                                               : nullptr;
                    each_subkey(dev_key, tag::enum_instances,
                                tag::open_instance,
                                [&](const WCHAR* inst_name, HKEY inst_key) {
                                    list_usb_node(scan, model, dev_name, inst_name, inst_key);
                                });
                });
    if (!scan.ftdi_key) return;
    each_subkey(scan.ftdi_key.get(), tag::enum_ftdi_keys,
                tag::open_ftdi_key, [&](const WCHAR* key_name, HKEY key) {
                    each_subkey(key, tag::enum_ftdi_instances,
                                tag::open_ftdi_instance,
                                [&](const WCHAR*, HKEY port_key) { list_ftdi_node(scan, key_name, port_key); });
                });
}

// --- The ports of one device ---------------------------------------------

// The model's function keys, VID_vvvv&PID_pppp&MI_nn, in interface order.
const std::vector<wtext>& model_functions(device_scan& scan) {
    if (scan.functions) return *scan.functions;
    scan.functions.emplace();
    const scan_ctx& ctx = scan.ctx;
    const wtext model = model_key(ctx.vid, ctx.pid);
    if (scan.interface != any_interface) {
        scan.functions->push_back(model + interface_suffix(static_cast<unsigned>(scan.interface)));
        return *scan.functions;
    }
    each_subkey_name(ctx.usb_key, tag::enum_functions, [&](wview key) {
        if (key.size() == model.size() + 6 && ascii_starts_nocase(key, model) && interface_at(key) == model.size())
            scan.functions->emplace_back(key);
    });
    return *scan.functions;
}

void function_ports(device_scan& scan, const found_port& device, HKEY device_key, const wtext& prefix) {
    for (const wtext& function : model_functions(scan)) {
        const owned_key key = open_optional(scan.ctx.usb_key, function.c_str(), tag::open_function);
        if (!key) continue;
        each_subkey(key.get(), tag::enum_function_instances,
                    tag::open_function_instance, [&](const WCHAR* name, HKEY port_key) {
                        if (!function_of(name, prefix)) return;
                        const std::optional<wtext> port = present_port(port_key, port_classes::ports_and_modems);
                        if (!port) return;
                        found_port found = device;
                        found.interface = interface_number(function, interface_at(function));
                        found.function_node_key = function, found.function_node_instance = name;
                        list_device_port(scan, found, *port, port_key, device_key);
                    });
    }
}

// The FTDI port nodes of the chip `device_key` is the USB node of.
void ftdi_ports(device_scan& scan, const found_port& device, HKEY device_key) {
    const scan_ctx& ctx = scan.ctx;
    const wtext model = ftdi_key(ctx.vid, ctx.pid, device.instance);
    const bool made_up = made_up_instance(device.instance);
    std::optional<bool> composite;
    // A chip without a serial number: its name alone, then & and 1, 2...;
    // with one: its serial and A, B...
    for (unsigned k = made_up ? 0 : 1; k <= ftdi_channels; ++k) {
        wtext name = model;
        if (!made_up) name += static_cast<WCHAR>(u'A' + k - 1);
        if (made_up && k) name += {u'&', static_cast<WCHAR>(u'0' + k)};
        const owned_key key = open_optional(scan.ftdi_key.get(), name.c_str(), tag::open_ftdi_key);
        if (!key) continue;
        if (!made_up && !composite) composite = is_composite(device_key);
        const bool multi = made_up ? k > 0 : *composite;
        if (scan.interface != any_interface && (!multi || static_cast<unsigned>(scan.interface) != k - 1)) continue;
        each_subkey(key.get(), tag::enum_ftdi_instances,
                    tag::open_ftdi_instance, [&](const WCHAR*, HKEY port_key) {
                        const std::optional<wtext> port = present_port(port_key, port_classes::ports_and_modems);
                        if (!port) return;
                        // The device's names, and the channel of a chip with several.
                        found_port found{.vid = device.vid,
                                         .pid = device.pid,
                                         .instance = device.instance,
                                         .device_node_key = device.device_node_key,
                                         .device_node_instance = device.device_node_instance};
                        if (multi) found.interface = k - 1;
                        list_device_port(scan, found, *port, port_key, device_key);
                    });
    }
}

// Every port of the device `instance`, whose key is open: its own node, its
// functions in interface order, then its FTDI channels.
void device_ports(device_scan& scan, const WCHAR* instance, HKEY device_key) {
    const scan_ctx& ctx = scan.ctx;
    const wtext model = model_key(ctx.vid, ctx.pid);
    const found_port device{.vid = ctx.vid,
                            .pid = ctx.pid,
                            .pid_field = wview(),
                            .instance = instance,
                            .device_node_key = model,
                            .device_node_instance = instance};
    if (scan.interface == any_interface)
        if (const std::optional<wtext> port = present_port(device_key, port_classes::ports_and_modems))
            list_device_port(scan, device, *port, device_key, nullptr);
    if (const std::optional<wtext> prefix = strict_string(device_key, PARENT_ID_PREFIX_VALUE))
        function_ports(scan, device, device_key, *prefix);
    if (scan.ftdi_key) ftdi_ports(scan, device, device_key);
}

}  // namespace

void scan_by_device(scan_ctx& ctx, int interface) {
    // The filtered keys first: a missing one ends the run with 10 or 11
    // before anything else is asked.
    if (ctx.vid) open_device_key(ctx);
    if (ctx.serial) open_serial_key(ctx);
    device_scan scan{.ctx = ctx,
                     .interface = interface,
                     .ftdi_key = open_optional(HKEY_LOCAL_MACHINE, FTDIBUS_ENUM_PATH, tag::open_ftdibus),
                     .functions = std::nullopt,
                     .composites = {}};
    if (!ctx.vid) {
        list_every_port(scan);
        return;
    }
    if (ctx.serial) {
        device_ports(scan, ctx.serial, ctx.inst_key);
        RegCloseKey(ctx.inst_key);
    } else {
        each_subkey(ctx.dev_key, tag::enum_instances, tag::open_instance,
                    [&](const WCHAR* instance, HKEY key) { device_ports(scan, instance, key); });
    }
    RegCloseKey(ctx.dev_key);
}
