#include "walk/walk.h"

#include "registry/registry.h"
#include "registry/schema.h"
#include "registry/usb_names.h"
#include "report/report.h"
#include "report/tags.h"
#include "walk/port.h"

bool key_not_found(const scan_ctx& ctx) {
    if (ctx.status == ERROR_SUCCESS) return false;
    if (ctx.status == ERROR_FILE_NOT_FOUND) return true;
    fail_status(tag::open_filtered, ctx.status);
}

void open_root(scan_ctx& ctx) {
    ctx.status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, USB_ENUM_PATH, 0, KEY_READ, &ctx.usb_key);
    if (ctx.status != ERROR_SUCCESS) fail_status(tag::open_root, ctx.status);
}

void open_device_key(scan_ctx& ctx) {
    // Both filters are exactly four characters, so the name always fits.
    const wtext name = model_key(ctx.vid, ctx.pid);
    ctx.status = RegOpenKeyExW(ctx.usb_key, name.c_str(), 0, KEY_READ, &ctx.dev_key);
    if (key_not_found(ctx)) {
        print_err(TEXT("No devices matching the provided VID and PID were found.\n"));
        end_process(10);
    }
}

void open_serial_key(scan_ctx& ctx) {
    // No key has an empty name: opening one would reopen the device key.
    ctx.status = *ctx.serial ? RegOpenKeyExW(ctx.dev_key, ctx.serial, 0, KEY_READ, &ctx.inst_key)
                             : ERROR_FILE_NOT_FOUND;
    if (key_not_found(ctx)) {
        print_err(TEXT("Device with the provided serial number could not be found.\n"));
        end_process(11);
    }
}

void scan_devices(scan_ctx& ctx) {
    if (ctx.vid && ctx.pid) {
        open_device_key(ctx);
        scan_instances(ctx, nullptr);
        RegCloseKey(ctx.dev_key);
        return;
    }
    WCHAR name[key_name_capacity];
    for (DWORD index = 0;; ++index) {
        ctx.status = subkey_name(ctx.usb_key, index, name);
        if (ctx.status == ERROR_NO_MORE_ITEMS) return;
        if (ctx.status != ERROR_SUCCESS) fail_status(tag::enum_devices, ctx.status);
        ctx.status = RegOpenKeyExW(ctx.usb_key, name, 0, KEY_READ, &ctx.dev_key);
        if (ctx.status != ERROR_SUCCESS) fail_status(tag::open_device, ctx.status);
        scan_instances(ctx, name);
        RegCloseKey(ctx.dev_key);
    }
}

void scan_instances(scan_ctx& ctx, const WCHAR* dev_name) {
    // A function's device is where it is and what it is called: its model's
    // composite devices are read once for all the function's instances.
    composite_map composites;
    const std::size_t mi = dev_name && (ctx.at || ctx.described) ? interface_at(dev_name) : wview::npos;
    if (mi != wview::npos) composites = composite_devices(ctx.usb_key, without_interface(dev_name, mi).c_str());
    ctx.composites = mi != wview::npos ? &composites : nullptr;
    if (ctx.serial) {
        open_serial_key(ctx);
        list_if_port(dev_name, nullptr, ctx, ctx.inst_key);
        RegCloseKey(ctx.inst_key);
        return;
    }
    WCHAR name[key_name_capacity];
    for (DWORD index = 0;; ++index) {
        ctx.status = subkey_name(ctx.dev_key, index, name);
        if (ctx.status == ERROR_NO_MORE_ITEMS) return;
        if (ctx.status != ERROR_SUCCESS) fail_status(tag::enum_instances, ctx.status);
        ctx.status = RegOpenKeyExW(ctx.dev_key, name, 0, KEY_READ, &ctx.inst_key);
        if (ctx.status != ERROR_SUCCESS) fail_status(tag::open_instance, ctx.status);
        list_if_port(dev_name, name, ctx, ctx.inst_key);
        RegCloseKey(ctx.inst_key);
    }
}
