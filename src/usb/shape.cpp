// The one shaper: the USB devices a system's reader found, as the registry
// nodes Windows would record for them under Enum\USB, and SERIALCOMM for
// their ports.
#include "usb/usb.h"

#include "registry/schema.h"
#include "registry/usb_names.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace {

// Windows names an instance after the serial number only when it is usable
// as one: printable ASCII without blanks or commas, and a valid key name.
bool usable_serial(const std::string& serial) {
    if (serial.empty() || serial.size() > max_key_name) return false;
    for (char c : serial)
        if (c <= 0x20 || c > 0x7E || c == ',' || c == '\\') return false;
    return true;
}

// Windows gives a device one function when it has one interface or is of
// the communications class (02); otherwise one per interface (MI_nn).
bool single_function(const usb_device& device) {
    return device.device_class == 0x02u || device.interfaces == 1;
}

// The last component of a port's path: the name SERIALCOMM gives it under \Device.
std::string_view leaf_name(std::string_view path) { return path.substr(path.rfind('/') + 1); }

// Names each device's instance after its serial number where that is
// usable and no other attached device of the same VID and PID has it as
// its serial or as its place (as the registry compares names: without
// regard to case); the others go by their places, so that every instance
// name stays unique. Each device's name, in the order of `devices`.
std::vector<const std::string*> name_instances(const std::vector<usb_device>& devices) {
    std::vector<const std::string*> chosen(devices.size());
    for (std::size_t i = 0; i < devices.size(); ++i) chosen[i] = &devices[i].place;
    struct name_of {
        std::uint64_t hash;
        std::size_t device;
        const std::string* name;
        bool serial;  // the name is its serial number, not its place
    };
    const auto upper = [](char c) { return registry_fold(static_cast<unsigned char>(c)); };
    const auto hash_of = [&](const usb_device& device, const std::string& name) {
        std::uint64_t hash = (std::uint64_t{device.vid} << 16 | device.pid) * 1099511628211u;
        for (const char c : name) hash = (hash ^ upper(c)) * 1099511628211u;
        return hash;
    };
    const auto same = [&](const name_of& a, const name_of& b) {
        const usb_device &one = devices[a.device], &other = devices[b.device];
        return one.vid == other.vid && one.pid == other.pid &&
               std::equal(a.name->begin(), a.name->end(), b.name->begin(), b.name->end(),
                          [&](char x, char y) { return upper(x) == upper(y); });
    };
    // A place is usbN, or N-N.N... : only a serial number of that form can
    // be one, and most have none.
    const auto place_like = [](const std::string& serial) {
        const std::string_view digits = serial.size() > 3 && ascii_starts_nocase(from_utf8(serial), u"usb")
                                            ? std::string_view(serial).substr(3)
                                            : std::string_view(serial);
        return digits.find_first_not_of("0123456789-.") == std::string_view::npos;
    };
    bool places = false;
    // Names by a hash of what they name; only those of one hash compare.
    std::vector<name_of> names;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const usb_device& device = devices[i];
        if (!usable_serial(device.serial)) continue;
        names.push_back({hash_of(device, device.serial), i, &device.serial, true});
        places = places || place_like(device.serial);
    }
    for (std::size_t i = 0; i < devices.size() && places; ++i)
        names.push_back({hash_of(devices[i], devices[i].place), i, &devices[i].place, false});
    std::sort(names.begin(), names.end(), [](const name_of& a, const name_of& b) { return a.hash < b.hash; });
    for (std::size_t start = 0, end = 0; start < names.size(); start = end) {
        while (end < names.size() && names[end].hash == names[start].hash) ++end;
        for (std::size_t i = start; i < end; ++i) {
            if (!names[i].serial) continue;
            bool unique = true;
            for (std::size_t j = start; j < end && unique; ++j)
                unique = names[i].device == names[j].device || !same(names[i], names[j]);
            if (unique) chosen[names[i].device] = names[i].name;
        }
    }
    return chosen;
}

// One instance node of the view. Nodes are made device by device in the
// order of their places: where two end up with one name (as the registry
// compares names), they are one key, its name the first's and its values
// the later's where both have one.
struct view_node {
    unsigned vid, pid;
    int interface;  // the function's; -1 for the device's own key
    wview instance;  // in the image
    const usb_device* device;
    unsigned made;  // its place among its device's nodes
    const char16_t* guid;  // its class
    bool composite;  // a composite device's own node
    const usb_port* port;  // its port; null for none
    wview port_name;  // its port's path, in the image
    wview name = {};  // what its bus reports it as (a device's product, a function's interface), in the image
};

// Whether node `a` was made before node `b`.
bool made_before(const view_node& a, const view_node& b) {
    if (a.device != b.device) return a.device->place < b.device->place;
    return a.made < b.made;
}

// The ports of one interface in the order of their numbers on it, or of
// their names (shorter first) where one has no number: each with its number.
std::vector<std::pair<unsigned, const usb_port*>> numbered_ports(std::vector<const usb_port*> ports) {
    std::sort(ports.begin(), ports.end(), [](const usb_port* a, const usb_port* b) {
        return a->path.size() != b->path.size() ? a->path.size() < b->path.size() : a->path < b->path;
    });
    const bool all_numbered = std::all_of(ports.begin(), ports.end(), [](const usb_port* p) { return p->number; });
    std::vector<std::pair<unsigned, const usb_port*>> numbered;
    for (std::size_t i = 0; i < ports.size(); ++i)
        numbered.emplace_back(all_numbered ? *ports[i]->number : static_cast<unsigned>(i), ports[i]);
    return numbered;
}

// A node's values: at most seven.
using node_values = std::array<image_value, 8>;

// A node's hardware IDs as Windows writes them, USB\VID_vvvv&PID_pppp&REV_rrrr
// and USB\VID_vvvv&PID_pppp, each with a function's &MI_nn, in a
// multi-string.
// The texts the view's nodes share, each made once in the image: where a
// node's bus-reported description is kept, and each model's hardware IDs.
struct shared_texts {
    wview property;
    std::map<std::tuple<unsigned, unsigned, int, unsigned>, wview> hardware_ids;
};

wview hardware_ids(reg_image& image, shared_texts& texts, const view_node& node, unsigned release) {
    wview& made = texts.hardware_ids[std::tuple(node.vid, node.pid, node.interface, release)];
    if (!made.empty()) return made;
    const wtext model = wtext(USB_ENUMERATOR) + u'\\' + model_key(node.vid, node.pid);
    const wtext function = node.interface >= 0 ? interface_suffix(static_cast<unsigned>(node.interface)) : wtext();
    const wtext ids = model + TEXT("&REV_") + hex_id(release) + function + u'\0' + model + function + u'\0';
    return made = keep_text(image, ids);
}

// The values of `node` in `values`; their count.
std::size_t node_values_of(reg_image& image, const view_node& node, const source_needs& needs, shared_texts& texts,
                           node_values& values) {
    std::size_t count = 0;
    const auto add = [&](wview name, wview text) { values[count++] = {name, REG_SZ, string_data(image, text)}; };
    const usb_device& device = *node.device;
    add(CLASS_GUID_VALUE, node.guid);
    if (needs.descriptions) {
        // As Windows keeps them, and the device's serial number (empty for
        // none), which the instance name does not always show.
        if (const auto& product = device.product) add(DEVICE_DESC_VALUE, keep_text(image, {}, *product));
        if (const auto& maker = device.manufacturer) add(MFG_VALUE, keep_text(image, {}, *maker));
        add(SERIAL_NUMBER_VALUE, keep_text(image, {}, device.serial));
    }
    if (needs.descriptions || needs.locations) add(LOCATION_VALUE, keep_text(image, {}, device.place));
    if (needs.descriptions && device.release)
        values[count++] = {HARDWARE_ID_VALUE, REG_MULTI_SZ, string_data(image, hardware_ids(image, texts, node, *device.release))};
    if (node.composite) {
        // Its functions' names begin with its ParentIdPrefix.
        add(SERVICE_VALUE, COMPOSITE_SERVICE);
        add(PARENT_ID_PREFIX_VALUE, node.instance);
    }
    return count;
}

// The instance nodes of every device.
std::vector<view_node> view_nodes(reg_image& image, const std::vector<usb_device>& devices, const source_needs& needs) {
    std::vector<view_node> nodes;
    nodes.reserve(devices.size());
    unsigned made = 0;
    const auto add = [&](const usb_device& device, int interface, wview instance, const char16_t* guid,
                         const usb_port* port) -> view_node& {
        return nodes.emplace_back(view_node{.vid = device.vid,
                                            .pid = device.pid,
                                            .interface = interface,
                                            .instance = instance,
                                            .device = &device,
                                            .made = made++,
                                            .guid = guid,
                                            .composite = false,
                                            .port = port,
                                            .port_name = port ? keep_text(image, {}, port->path) : wview()});
    };
    // What a node's bus reports it as, where the run describes its ports.
    const auto name_of = [&](const std::optional<std::string>& text) {
        return needs.descriptions && text ? keep_text(image, {}, *text) : wview();
    };
    const std::vector<const std::string*> names = name_instances(devices);
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const usb_device& device = devices[i];
        made = 0;
        const wview instance = keep_text(image, {}, *names[i]);
        // Only a device with one port can be that port.
        const bool is_port = device.ports.size() == 1 && single_function(device);
        view_node& node = add(device, -1, instance, is_port ? PORTS_CLASS_GUID : USB_CLASS_GUID,
                              is_port ? &device.ports.front() : nullptr);
        node.name = name_of(device.product);
        if (is_port || device.ports.empty()) continue;
        // A device whose ports are functions is composite, as Windows
        // records one.
        node.composite = true;
        // Each interface is a function; an interface with several ports
        // gives each its own instance, named after its number there.
        std::map<unsigned, std::vector<const usb_port*>> interfaces;
        for (const usb_port& port : device.ports) interfaces[port.interface].push_back(&port);
        for (auto& [number, ports] : interfaces) {
            const int function = static_cast<int>(number);
            const wview name = name_of(ports.back()->interface_name);
            if (ports.size() == 1) {
                add(device, function, instance, PORTS_CLASS_GUID, ports.front()).name = name;
                continue;
            }
            for (const auto& [on_interface, port] : numbered_ports(std::move(ports)))
                add(device, function, keep_text(image, wtext(instance) + u'&', std::to_string(on_interface)),
                    PORTS_CLASS_GUID, port)
                    .name = name;
        }
    }
    return nodes;
}

// The key `name` under `parent`, its only subkey.
image_key& only_child(reg_image& image, image_key& parent, wview name) {
    const auto child = image_array<image_key>(image, 1);
    child[0].name = name;
    parent.children = child;
    return child[0];
}

// The keys of `path` below `parent`, each its parent's only subkey: the last.
image_key& only_path(reg_image& image, image_key& parent, wview path) {
    image_key* key = &parent;
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find(u'\\', start), path.size());
        key = &only_child(image, *key, path.substr(start, end - start));
        start = end + 1;
    }
    return *key;
}

// The instance key of like-named nodes, `group`, in `instance`: its name
// the first's, its values and port the later's where both have one.
void image_instance(reg_image& image, std::span<const view_node* const> group, const source_needs& needs,
                    shared_texts& texts, image_key& instance) {
    node_values made;
    std::span<const image_value> values(made.data(), node_values_of(image, *group.front(), needs, texts, made));
    std::vector<image_value> merged;
    wview port = group.front()->port_name, name = group.front()->name;
    if (group.size() > 1) merged.assign(values.begin(), values.end());
    for (const view_node* later : group.subspan(1)) {
        const std::size_t count = node_values_of(image, *later, needs, texts, made);
        for (const image_value& value : std::span(made).first(count)) {
            auto same = std::find_if(merged.begin(), merged.end(),
                                     [&](const image_value& v) { return name_equal()(v.name, value.name); });
            if (same == merged.end()) merged.push_back(value);
            else same->data = value.data, same->type = value.type;
        }
        if (later->port) port = later->port_name;
        if (!later->name.empty()) name = later->name;
    }
    if (group.size() > 1) values = merged;
    instance.name = group.front()->instance;
    instance.values = image_copy(image, values);
    // Its subkeys, in the registry's order: Device Parameters, Properties.
    const auto children = image_array<image_key>(image, !port.empty() + !name.empty());
    if (!port.empty()) {
        children.front().name = DEVICE_PARAMETERS_KEY;
        const auto port_name = image_array<image_value>(image, 1);
        port_name[0] = {PORT_NAME_VALUE, REG_SZ, string_data(image, port)};
        children.front().values = port_name;
    }
    if (!name.empty()) {
        // Where Windows keeps what the bus reports the node as.
        if (texts.property.empty()) texts.property = keep_text(image, property_path(BUS_REPORTED_DESCRIPTION_KEY));
        const std::size_t first = texts.property.find(u'\\');
        children.back().name = texts.property.substr(0, first);
        const auto description = image_array<image_value>(image, 1);
        description[0] = {TEXT(""), property_value_type(DEVPROP_TYPE_STRING), string_data(image, name)};
        only_path(image, children.back(), texts.property.substr(first + 1)).values = description;
    }
    instance.children = children;
}

// The subkeys of Enum\USB, every node under its key.
std::span<const image_key> usb_subkeys(reg_image& image, const std::vector<view_node>& nodes,
                                       const source_needs& needs) {
    // The nodes in the registry's order: by key (whose names, VID_vvvv&PID_pppp
    // and its functions' &MI_nn, order as their numbers do), then instance.
    std::vector<const view_node*> order;
    order.reserve(nodes.size());
    for (const view_node& node : nodes) order.push_back(&node);
    const auto key_of = [](const view_node* n) { return std::tuple(n->vid, n->pid, n->interface); };
    std::sort(order.begin(), order.end(), [&](const view_node* a, const view_node* b) {
        if (key_of(a) != key_of(b)) return key_of(a) < key_of(b);
        const int names = name_order(a->instance, b->instance);
        return names ? names < 0 : made_before(*a, *b);
    });
    // Like-named nodes of one key become one instance: the ranges of each.
    std::vector<std::pair<std::size_t, std::size_t>> instances;
    std::size_t keys = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const bool new_key = i == 0 || key_of(order[i - 1]) != key_of(order[i]);
        keys += new_key;
        if (new_key || !name_equal()(order[i - 1]->instance, order[i]->instance))
            instances.emplace_back(i, i + 1);
        else
            instances.back().second = i + 1;
    }
    const auto usb_keys = image_array<image_key>(image, keys);
    shared_texts texts;
    const auto instance_keys = image_array<image_key>(image, instances.size());
    std::size_t key = 0;
    for (std::size_t i = 0; i < instances.size(); ++i) {
        const auto [first, end] = instances[i];
        const view_node& node = *order[first];
        if (i > 0 && key_of(order[instances[i - 1].first]) != key_of(&node)) ++key;
        if (usb_keys[key].name.empty()) {
            wtext name = model_key(node.vid, node.pid);
            if (node.interface >= 0) name += interface_suffix(static_cast<unsigned>(node.interface));
            usb_keys[key].name = keep_text(image, name);
            usb_keys[key].children = instance_keys.subspan(i, 0);
        }
        usb_keys[key].children = {usb_keys[key].children.data(), usb_keys[key].children.size() + 1};
        image_instance(image, std::span(order).subspan(first, end - first), needs, texts, instance_keys[i]);
    }
    return usb_keys;
}


}  // namespace

std::unique_ptr<reg_image> shape_registry(const std::vector<usb_device>& devices, const source_needs& needs) {
    auto image = std::make_unique<reg_image>();
    std::vector<view_node> nodes = view_nodes(*image, devices, needs);

    // The ports that exist now, named in SERIALCOMM after their device nodes.
    std::vector<image_value> present;
    for (const view_node& node : nodes)
        if (node.port && node.port->ready)
            present.push_back({keep_text(*image, u"\\Device\\", leaf_name(node.port->path)), REG_SZ,
                               string_data(*image, node.port_name)});

    const auto usb_keys = usb_subkeys(*image, nodes, needs);

    // HARDWARE\... and SYSTEM\..., in the registry's order.
    const wview serialcomm_path = SERIALCOMM_PATH, usb_path = USB_ENUM_PATH;
    const std::size_t hardware = serialcomm_path.find(u'\\'), system = usb_path.find(u'\\');
    const auto top = image_array<image_key>(*image, 2);
    top[0].name = serialcomm_path.substr(0, hardware);
    top[1].name = usb_path.substr(0, system);
    image->hklm.children = top;
    only_path(*image, top[0], serialcomm_path.substr(hardware + 1)).values =
        image_copy(*image, std::span<const image_value>(present));
    only_path(*image, top[1], usb_path.substr(system + 1)).children = usb_keys;
    image->port_map = find_key(image->hklm, SERIALCOMM_PATH);
    return image;
}

std::string place_of_location(unsigned long long location_id) {
    std::string place = std::to_string(location_id >> 24 & 0xFF);
    char separator = '-';
    for (int shift = 20; shift >= 0; shift -= 4) {
        const unsigned port = static_cast<unsigned>(location_id >> shift & 0xF);
        if (port == 0) break;
        place += separator;
        place += std::to_string(port);
        separator = '.';
    }
    return place;
}
