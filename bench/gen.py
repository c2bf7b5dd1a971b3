"""Inputs for the benchmark: registry exports with a realistic mix of USB
instance keys, and sysfs trees of attached USB serial devices."""
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "scenarios"))
import sysfs_trees  # noqa: E402

USB = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\USB"
PORTS = "{4d36e978-e325-11ce-bfc1-08002be10318}"
USB_CLASS = "{36fc9e60-c465-11cf-8056-444553540000}"
HID = "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}"


def hex_multi(*texts):
    data = "".join(t + "\0" for t in texts) + "\0"
    return ",".join(f"{b:02x}" for b in data.encode("utf-16-le"))


def instance(lines, dev, inst, guid, port=None, desc="USB Composite Device", extra=(), root=USB):
    """One instance key with the values Windows keeps for it."""
    hwid = dev.split("&MI_")[0]
    ids = hex_multi("USB\\" + dev + "&REV_0100", "USB\\" + hwid)
    compatible = hex_multi("USB\\Class_02&SubClass_02&Prot_01", "USB\\Class_02")
    lines += [
        f"[{root}\\{dev}\\{inst}]",
        f'"DeviceDesc"="@usb.inf,%usb.devicedesc%;{desc}"',
        f'"HardwareID"=hex(7):{ids}',
        f'"CompatibleIDs"=hex(7):{compatible}',
        f'"ContainerID"="{{{random.getrandbits(128):032x}}}"',
        '"ConfigFlags"=dword:00000000',
        f'"ClassGUID"="{guid}"',
        '"Driver"="{4d36e978-e325-11ce-bfc1-08002be10318}\\\\0003"',
        '"Mfg"="@mdmcpq.inf,%mfgname%;Microsoft"',
        f'"LocationInformation"="Port_#{len(lines) % 12 + 1:04d}.Hub_#0001"',
        *extra,
        "",
        f"[{root}\\{dev}\\{inst}\\Device Parameters]",
        '"SymbolicName"="\\\\??\\\\USB#' + dev.replace("\\", "#") + "#" + inst + '#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"',
    ]
    if port:
        lines.append(f'"PortName"="{port}"')
    lines.append("")


def export(count, wine=False, port_name_value="PortName", seed=1):
    """An export with `count` instance keys: about three in four are not serial
    ports; of the ports, one in five is absent now and one in ten is the
    function of a composite device. Under Wine only COM1 to COM9 exist, so
    there every port is one of those and present."""
    random.seed(seed)
    lines = ["Windows Registry Editor Version 5.00", "", f"[{USB}]", ""]
    present = []
    for i in range(count):
        dev = f"VID_{0x1000 + i // 3:04X}&PID_{(i * 7919) & 0xFFFF:04X}"
        inst = f"SN{i:08d}"
        kind = i % 8
        if kind < 6:
            instance(lines, dev, inst, USB_CLASS if kind % 2 else HID)
            continue
        port = f"COM{1 + i % 9}" if wine else f"COM{10 + i}"
        if kind == 7 and i % 5 == 0:
            dev += "&MI_01"
        instance(lines, dev, inst, PORTS, port, desc="USB Serial Device")
        if wine or i % 5 != 1:
            present.append(port)
    lines.append(r"[HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM]")
    lines += [f'"\\\\Device\\\\USBSER{n:03d}"="{p}"' for n, p in enumerate(sorted(set(present)))]
    text = "\r\n".join(lines) + "\r\n"
    if port_name_value != "PortName":
        text = text.replace('"PortName"=', f'"{port_name_value}"=')
    return b"\xff\xfe" + text.encode("utf-16-le")


def device_export(count, seed=1):
    """An export with `count` USB instance keys: one in ten an FTDI chip
    (its port node under Enum\\FTDIBUS), one in ten a composite device (its
    serial function beside it), three in ten serial ports of their own, the
    rest no ports. Every port is present."""
    random.seed(seed)
    ftdibus = USB.replace("\\USB", "\\FTDIBUS")
    lines = ["Windows Registry Editor Version 5.00", "", f"[{USB}]", ""]
    chips, ports = [], []
    for i in range(count):
        dev = f"VID_{0x1000 + i // 3:04X}&PID_{(i * 7919) & 0xFFFF:04X}"
        inst, kind, port = f"SN{i:08d}", i % 10, f"COM{10 + i}"
        if kind == 0:
            instance(lines, dev, inst, USB_CLASS, extra=['"Service"="FTDIBUS"'])
            chips.append((dev.replace("&", "+") + "+" + inst + "A", port))
        elif kind == 1:
            instance(lines, dev, inst, USB_CLASS, extra=['"Service"="usbccgp"', f'"ParentIdPrefix"="7&{i:x}&0"'])
            instance(lines, dev + "&MI_00", f"7&{i:x}&0&0000", PORTS, port, desc="USB Serial Device")
        elif kind < 5:
            instance(lines, dev, inst, PORTS, port, desc="USB Serial Device")
        else:
            instance(lines, dev, inst, USB_CLASS if kind % 2 else HID)
            continue
        ports.append(port)
    for key, port in chips:
        instance(lines, key, "0000", PORTS, port, desc="USB Serial Port", root=ftdibus)
    lines.append(r"[HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM]")
    lines += [f'"\\\\Device\\\\VCP{n}"="{p}"' for n, p in enumerate(ports)]
    return b"\xff\xfe" + ("\r\n".join(lines) + "\r\n").encode("utf-16-le")


def sysfs_tree(root, count, composite=False):
    """`count` CDC ACM boards behind the root hubs, each with its tty; with
    `composite`, boards whose tty is one function of three."""
    t = sysfs_trees.Tree(root)
    for bus in range(1 + count // 100):
        hub = t.device(sysfs_trees.HC, f"usb{bus + 1}", 0x1D6B, 0x0002, [0x09], device_class=0x09)
        for port in range(min(100, count - bus * 100)):
            n = bus * 100 + port
            board = t.device(hub, f"{bus + 1}-{port + 1}", 0x2E8A, 0x000A,
                             [0x02, 0x0A, 0xFF] if composite else [0x02, 0x0A], device_class=0xEF if composite else 0x02,
                             serial=f"E6613893{n:08X}", product="Pico", manufacturer="Raspberry Pi")
            t.acm(board, 0, f"ttyACM{n}")
    sysfs_trees.other_ttys(root)
    return [f"ttyACM{n}" for n in range(count)]
