#include "json/json.h"

#include "registry/registry.h"

namespace {

// "&MI_" and two hex digits in a device key name past the IDs: the
// interface of a composite device's function.
std::size_t interface_at(wview dev_name) {
    for (std::size_t at = 17; at + 6 <= dev_name.size(); ++at)
        if (text_equal_nocase(dev_name.substr(at, 4), TEXT("&MI_")) && hex_digit(dev_name[at + 4]) >= 0 &&
            hex_digit(dev_name[at + 5]) >= 0)
            return at;
    return wview::npos;
}

// A text as shown: "@file.inf,%key%;Text", an indirect string, shows Text.
std::optional<wtext> shown_text(std::optional<wtext> value) {
    if (!value || value->front() != u'@') return value;
    const std::size_t semicolon = value->find(u';');
    if (semicolon == wtext::npos || semicolon + 1 == value->size()) return std::nullopt;
    return value->substr(semicolon + 1);
}

// The instance name of the device whose function this is: the parent
// device key (the name without &MI_nn) holds the instance whose
// ParentIdPrefix is the function's instance name up to its last &.
std::optional<wtext> parent_instance(const scan_ctx& ctx, wview dev_name, std::size_t mi, wview instance) {
    const std::size_t amp = instance.rfind(u'&');
    if (amp == wview::npos) return std::nullopt;
    const wview prefix = instance.substr(0, amp);
    const wtext parent = wtext(dev_name.substr(0, mi)) + wtext(dev_name.substr(mi + 6));
    HKEY dev_key = nullptr;
    if (RegOpenKeyExW(ctx.usb_key, parent.c_str(), 0, KEY_READ, &dev_key) != ERROR_SUCCESS) return std::nullopt;
    std::optional<wtext> found;
    WCHAR name[256];
    for (DWORD index = 0; !found; ++index) {
        DWORD size = 256;
        if (RegEnumKeyExW(dev_key, index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY inst_key = nullptr;
        if (RegOpenKeyExW(dev_key, name, 0, KEY_QUERY_VALUE, &inst_key) != ERROR_SUCCESS) continue;
        const std::optional<wtext> id = reg_text(inst_key, TEXT("ParentIdPrefix"));
        if (id && text_equal_nocase(*id, prefix)) found = wtext(name);
        RegCloseKey(inst_key);
    }
    RegCloseKey(dev_key);
    return found;
}

// The device's own serial number. The Linux view records the kernel's in
// SerialNumber (empty when there is none). Windows names an instance after
// it unless it made the name up (the name then holds &); a composite
// device's function takes its parent's.
std::optional<wtext> serial_number(const scan_ctx& ctx, HKEY inst_key, const WCHAR* dev_name, const wtext& instance) {
    bool recorded = false;
    std::optional<wtext> serial = reg_text(inst_key, TEXT("SerialNumber"), &recorded);
    if (recorded) return serial;
    if (instance.find(u'&') == wtext::npos) return instance;
    const std::size_t mi = dev_name ? interface_at(dev_name) : wview::npos;
    if (mi == wview::npos) return std::nullopt;
    std::optional<wtext> parent = parent_instance(ctx, dev_name, mi, instance);
    if (parent && parent->find(u'&') != wtext::npos) return std::nullopt;
    return parent;
}

void put_string(wtext& out, const std::optional<wtext>& value) {
    if (!value) {
        out += TEXT("null");
        return;
    }
    out += u'"';
    const wtext& text = *value;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // Characters that stand as themselves go in runs.
        std::size_t plain = i;
        while (plain < text.size() && text[plain] >= 0x20 && text[plain] != u'"' && text[plain] != u'\\' &&
               (text[plain] < 0xD800 || text[plain] > 0xDFFF))
            ++plain;
        if (plain > i) {
            out.append(text, i, plain - i);
            i = plain - 1;
            continue;
        }
        const WCHAR c = text[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            out += c;
            out += text[++i];
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            out += static_cast<WCHAR>(0xFFFD);
        } else if (c == u'"' || c == u'\\') {
            out += u'\\';
            out += c;
        } else if (c == u'\n') {
            out += TEXT("\\n");
        } else if (c == u'\r') {
            out += TEXT("\\r");
        } else if (c == u'\t') {
            out += TEXT("\\t");
        } else {
            out += TEXT("\\u00");
            out += static_cast<WCHAR>(u"0123456789abcdef"[c >> 4]);
            out += static_cast<WCHAR>(u"0123456789abcdef"[c & 0xF]);
        }
    }
    out += u'"';
}

void put_field(wtext& out, const WCHAR* name, const std::optional<wtext>& value, bool last = false) {
    out += TEXT("      \"");
    out += name;
    out += TEXT("\": ");
    put_string(out, value);
    out += last ? TEXT("\n") : TEXT(",\n");
}

}  // namespace

void keep_port(std::vector<listed_port>& ports, const WCHAR* dev_name, const WCHAR* inst_name, const scan_ctx& ctx,
               HKEY inst_key, const wtext& port) {
    listed_port listed;
    listed.port = port;
    if (dev_name) {
        // The line's own test passed: VID_vvvv?PID_pppp and more.
        const wview name(dev_name);
        listed.vid = wtext(name.substr(4, 4));
        listed.pid = wtext(name.substr(13, 4));
        const std::size_t mi = interface_at(name);
        if (mi != wview::npos)
            listed.interface = static_cast<unsigned>(hex_digit(name[mi + 4]) * 16 + hex_digit(name[mi + 5]));
    } else {
        listed.vid = ctx.vid;
        listed.pid = ctx.pid;
    }
    listed.instance = inst_name ? inst_name : ctx.serial;
    listed.serial = serial_number(ctx, inst_key, dev_name, listed.instance);
    listed.location = reg_text(inst_key, TEXT("LocationInformation"));
    listed.description = shown_text(reg_text(inst_key, TEXT("DeviceDesc")));
    if (!listed.description) listed.description = shown_text(reg_text(inst_key, TEXT("FriendlyName")));
    listed.manufacturer = shown_text(reg_text(inst_key, TEXT("Mfg")));
    ports.push_back(std::move(listed));
}

void write_document(const std::vector<listed_port>& ports) {
    // Written a port at a time: the document of a thousand ports need not
    // be held whole.
    wtext out = TEXT("{\n  \"version\": 1,\n  \"ports\": [");
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const listed_port& p = ports[i];
        out += i ? TEXT(",\n    {\n") : TEXT("\n    {\n");
        put_field(out, TEXT("port"), p.port);
        put_field(out, TEXT("vid"), p.vid);
        put_field(out, TEXT("pid"), p.pid);
        const std::string number = p.interface ? std::to_string(*p.interface) : "null";
        out += TEXT("      \"interface\": ") + wtext(number.begin(), number.end()) + TEXT(",\n");
        put_field(out, TEXT("instance"), p.instance);
        put_field(out, TEXT("serial"), p.serial);
        put_field(out, TEXT("location"), p.location);
        put_field(out, TEXT("description"), p.description);
        put_field(out, TEXT("manufacturer"), p.manufacturer, true);
        out += TEXT("    }");
        write_text(out_stream::standard_output, out.data(), out.size());
        out.clear();
    }
    out += ports.empty() ? TEXT("]\n}\n") : TEXT("\n  ]\n}\n");
    write_text(out_stream::standard_output, out.data(), out.size());
}
