#include "registry/usb_names.h"

namespace {

constexpr WCHAR hex_digits[] = TEXT("0123456789ABCDEF");

}  // namespace

wtext model_key(wview vid, wview pid) {
    wtext key;
    key.reserve(9 + vid.size() + pid.size());
    return key.append(TEXT("VID_")).append(vid).append(TEXT("&PID_")).append(pid);
}

wtext hex_id(unsigned id) {
    return {hex_digits[id >> 12 & 0xF], hex_digits[id >> 8 & 0xF], hex_digits[id >> 4 & 0xF], hex_digits[id & 0xF]};
}

wtext model_key(unsigned vid, unsigned pid) { return model_key(hex_id(vid), hex_id(pid)); }

bool device_key_valid(wview name) {
    return name.size() >= 17 && ascii_equal_nocase(name.substr(0, 4), TEXT("VID_")) &&
           ascii_equal_nocase(name.substr(9, 4), TEXT("PID_"));
}

// A key name's IDs: VID_ at 0 and PID_ at 9, four characters each after them.
constexpr std::size_t vid_at = 4, pid_at = 13, id_size = 4;

wview key_vid(wview name) { return name.substr(vid_at, id_size); }
wview key_pid(wview name) { return name.substr(pid_at, id_size); }
wview key_pid_field(wview name) { return name.substr(pid_at); }

std::size_t interface_at(wview dev_name) {
    for (std::size_t at = 17; at + 6 <= dev_name.size(); ++at)
        if (ascii_equal_nocase(dev_name.substr(at, 4), TEXT("&MI_")) && hex_digit(dev_name[at + 4]) >= 0 &&
            hex_digit(dev_name[at + 5]) >= 0)
            return at;
    return wview::npos;
}

unsigned interface_number(wview dev_name, std::size_t at) {
    return static_cast<unsigned>(hex_digit(dev_name[at + 4]) * 16 + hex_digit(dev_name[at + 5]));
}

wtext without_interface(wview dev_name, std::size_t at) {
    return wtext(dev_name.substr(0, at)) + wtext(dev_name.substr(at + 6));
}

wtext interface_suffix(unsigned number) {
    return {u'&', u'M', u'I', u'_', hex_digits[number >> 4 & 0xF], hex_digits[number & 0xF]};
}

int function_pid(wview pid) {
    if (pid.size() != 10 || !ascii_equal_nocase(pid.substr(4, 4), TEXT("&MI_")) || hex_digit(pid[8]) < 0 ||
        hex_digit(pid[9]) < 0)
        return any_interface;
    return static_cast<int>(interface_number(pid, 4));
}

bool function_of(wview function, wview prefix) {
    return ascii_equal_nocase(function, prefix) || ascii_equal_nocase(parent_prefix(function), prefix);
}

wview parent_prefix(wview function) { return function.substr(0, function.rfind(u'&')); }

wtext ftdi_key(wview vid, wview pid, wview suffix) {
    wtext key(TEXT("VID_"));
    return key.append(vid).append(TEXT("+PID_")).append(pid).append(1, u'+').append(suffix);
}

bool ftdi_key_valid(wview name) {
    return name.size() > ftdi_suffix_at && ascii_equal_nocase(name.substr(0, 4), TEXT("VID_")) && name[8] == u'+' &&
           ascii_equal_nocase(name.substr(9, 4), TEXT("PID_")) && name[17] == u'+';
}

std::optional<wtext> usb_revision(wview hardware_ids) {
    // USB\VID_vvvv&PID_pppp&REV_rrrr: 30 characters.
    for (std::size_t at = 0; at < hardware_ids.size();) {
        const std::size_t end = std::min(hardware_ids.find(u'\0', at), hardware_ids.size());
        const wview id = hardware_ids.substr(at, end - at);
        at = end + 1;
        if (id.size() != 30 || !ascii_starts_nocase(id, TEXT("USB\\")) || !device_key_valid(id.substr(4)) ||
            id[12] != u'&' || !ascii_equal_nocase(id.substr(21, 5), TEXT("&REV_")))
            continue;
        wtext revision(id.substr(26));
        bool hex = true;
        for (WCHAR& c : revision) {
            hex = hex && hex_digit(c) >= 0;
            if (c >= u'a' && c <= u'f') c = static_cast<WCHAR>(c - 0x20);
        }
        if (hex) return revision;
    }
    return std::nullopt;
}

bool made_up_instance(wview instance) { return instance.find(u'&') != wview::npos; }
