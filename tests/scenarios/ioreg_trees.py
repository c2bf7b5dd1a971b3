"""Writes the recorded IO registries the scenario rows name, as `ioreg -a -l`
writes them: an XML property list, one dictionary per entry with its keys
sorted, ioreg's own keys (IOObjectClass, IORegistryEntryID, ...) beside the
properties, children in IORegistryEntryChildren. Shapes follow recordings
published from real Macs: OS X 10.10 (IOUSBDevice), 10.11-10.15
(IOUSBHostDevice taken for IOUSBDevice through IOClassNameOverride) and
Apple silicon (no override; interfaces named after their strings)."""
from xml.sax.saxutils import escape

IDS = iter(range(0x100000100, 0x200000000))  # registry IDs need more than 32 bits


def entry(cls, name, props=None, *children, override=None):
    own = {"IOObjectClass": cls, "IORegistryEntryName": name, "IORegistryEntryID": next(IDS),
           "IOObjectRetainCount": 7, "IOServiceBusyState": 0, "IOClass": cls}
    if override:
        own["IOClassNameOverride"] = override
    own.update(props or {})
    if children:
        own["IORegistryEntryChildren"] = list(children)
    return own


def xml(value, depth):
    tabs = "\t" * depth
    if isinstance(value, bool):
        return f"{tabs}<{'true' if value else 'false'}/>\n"
    if isinstance(value, int):
        return f"{tabs}<integer>{value}</integer>\n"
    if isinstance(value, str):
        return f"{tabs}<string>{escape(value)}</string>\n"
    if isinstance(value, list):
        return f"{tabs}<array>\n" + "".join(xml(v, depth + 1) for v in value) + f"{tabs}</array>\n"
    return (f"{tabs}<dict>\n" + "".join(f"{tabs}\t<key>{escape(k)}</key>\n" + xml(value[k], depth + 1)
                                        for k in sorted(value)) + f"{tabs}</dict>\n")


def plist(top):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" '
            '"http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n<plist version="1.0">\n' + xml(top, 0) + "</plist>\n")


def client(callout, stream="IORS232SerialStream"):
    props = {"IOSerialBSDClientType": stream, "IOTTYDevice": callout[8:]}
    if callout:
        props.update(IOCalloutDevice="/dev/" + callout, IODialinDevice="/dev/tty." + callout[3:])
    return entry("IOSerialBSDClient", "IOSerialBSDClient", props)


def usb(host, name, vid, pid, location, device_class, serial, interfaces, product=None, maker=None, override=True):
    """A device and its interfaces, each (class, name or None, drivers below
    it); its data copied down to them, as macOS copies it."""
    data = {"idVendor": vid, "idProduct": pid, "locationID": location, "bcdDevice": 0x100}
    if serial is not None:
        data.update({"USB Serial Number": serial, "kUSBSerialNumberString": serial})
    if product:
        data.update({"USB Product Name": product.replace("/", "_"), "kUSBProductString": product})
    if maker:
        data.update({"USB Vendor Name": maker, "kUSBVendorString": maker})
    found = []
    for number, (cls, label, *below) in enumerate(interfaces):
        own = dict(data, bInterfaceNumber=number, bInterfaceClass=cls)
        if label:
            own["kUSBString" if not override else "USB Interface Name"] = label
        found.append(entry("IOUSBHostInterface" if host else "IOUSBInterface", f"{label or 'IOUSBHostInterface'}@{number}",
                           own, *below, override="IOUSBInterface" if host and override else None))
    return entry("IOUSBHostDevice" if host else "IOUSBDevice", f"{product or name}@{location:08x}",
                 dict(data, bDeviceClass=device_class), *found, override="IOUSBDevice" if host and override else None)


def mac(*devices, model="MacBookPro15,1"):
    return entry("IORegistryEntry", "Root", {}, entry("IOPlatformExpertDevice", model, {}, *devices))


def acm(callout, stream="IOModemSerialStreamSync"):
    return entry("AppleUSBACMData", "AppleUSBACMData", {}, entry(stream, stream, {}, client(callout)))


def driverkit(driver, callout, copied):
    return entry("IOUserSerial", driver, dict(copied, IOUserClass=driver), client(callout, "IOSerialStream"))


def bluetooth():
    """Bluetooth-Incoming-Port: on an Intel Mac its controller is a USB device."""
    port = entry("IOBluetoothSerialClient", "IOBluetoothSerialClient", {}, client("cu.Bluetooth-Incoming-Port"))
    return usb(True, "BRCM20702 Hub", 0x0A5C, 0x4500, 0x14300000, 9, None,
               [(0xFF, None, entry("IOBluetoothHostControllerUSBTransport", "BroadcomBluetoothHostControllerUSBTransport",
                                   {}, entry("IOBluetoothDevice", "Bluetooth", {}, port)))])


def catalina():
    xhc = entry("AppleIntelCNLUSBXHCI", "XHC1", {},
                usb(True, "Pico", 0x2E8A, 0x000A, 0x14100000, 0xEF, "E661", [(2, None), (10, "Board CDC", acm("cu.usbmodem14101")), (0xFF, "Reset")], "Pico", "Raspberry Pi"),
                usb(True, "Dual RS232-HS", 0x0403, 0x6010, 0x14200000, 0, "FT2P",
                    [(0xFF, None, entry("FTDIUSBSerialDriver", "FTDIUSBSerialDriver", {}, client("cu.usbserial-FT2P0A"))),
                     (0xFF, None, entry("FTDIUSBSerialDriver", "FTDIUSBSerialDriver", {}, client("cu.usbserial-FT2P0B")))]),
                usb(True, "Starting", 0x1A2B, 0x3C4D, 0x14400000, 2, "NOTYET", [(2, None), (10, None, acm(""))]),
                bluetooth())
    return mac(xhc)


def yosemite():
    return mac(entry("AppleUSBXHCI", "XHC1", {}, usb(False, "Arduino Uno", 0x2341, 0x0043, 0x14200000, 2, "85734323231351E0F1B1",
                                                     [(2, None), (10, None, acm("cu.usbmodem1421"))], "Arduino Uno")),
               model="MacBookPro11,1")


def apple_silicon():
    copied = lambda vid, pid, location: {"idVendor": vid, "idProduct": pid, "locationID": location, "bInterfaceNumber": 0}
    # A hub with a serial number and a name: a device below it without them takes neither.
    hub = usb(True, "USB2.0 Hub", 0x05E3, 0x0610, 0x01100000, 9, "HUB0001", [(9, "Hub")], "USB2.0 Hub", "GenesysLogic",
              override=False)
    hub["IORegistryEntryChildren"] += [
        usb(True, "USB Single Serial", 0x1A86, 0x7523, 0x01120000, 0xFF, None,
            [(0xFF, None, driverkit("AppleUSBCHCOM", "cu.usbserial-1120", copied(0x1A86, 0x7523, 0x01120000)),
              entry("WCHUSBSerialDriver", "wchusbserial", {}, client("cu.wchusbserial1120")))], override=False),
        usb(True, "CP2102N", 0x10C4, 0xEA60, 0x01140000, 0, "0001",
            [(0xFF, None, driverkit("AppleUSBSLCOM", "cu.usbserial-0001", copied(0x10C4, 0xEA60, 0x01140000)))],
            "CP2102N USB to UART Bridge Controller", "Silicon Labs", override=False)]
    debug = entry("AppleSerialShim", "debug-console", {}, client("cu.debug-console"))
    return mac(entry("AppleT8103USBXHCI", "usb-drd0", {},
                     usb(True, "ESP32-S3", 0x303A, 0x1001, 0x00100000, 0xEF, "3C:0F:02:C4:77:7C",
                         [(2, None), (10, None, acm("cu.usbmodem101")), (0xFF, "JTAG")], "USB JTAG/serial debug unit", "Espressif", override=False),
                     usb(True, "Black Magic Probe", 0x1D50, 0x6018, 0x00200000, 0xEF, "7BB180B4",
                         [(2, "Black Magic GDB Server"), (10, "Black Magic GDB Server", acm("cu.usbmodem7BB180B41")),
                          (2, "Black Magic UART Port"), (10, "Black Magic UART Port", acm("cu.usbmodem7BB180B43"))],
                         "Black Magic Probe", "Black Magic Debug", override=False),
                     hub),
               debug, model="MacBookAir10,1")


def chains(root):
    """What `ioreg -a -l -r -t -c IOSerialBSDClient` writes: each client in
    its ancestors, the shared ones repeated."""
    found = []

    def walk(node, path):
        if node["IOObjectClass"] == "IOSerialBSDClient":
            copy = node
            for above in reversed(path):
                copy = dict(above, IORegistryEntryChildren=[copy])
            found.append(copy)
        for child in node.get("IORegistryEntryChildren", []):
            walk(child, path + [node])
    walk(root, [])
    return found


TREES = {
    "catalina": lambda: plist(catalina()),
    "yosemite": lambda: plist(yosemite()),
    "apple_silicon": lambda: plist(apple_silicon()),
    "apple_silicon_chains": lambda: plist(chains(apple_silicon())),
    "no_ports": lambda: plist(mac()),
    "not_plist": lambda: "ioreg: not this\n",
    "not_ioreg": lambda: plist({"SPUSBDataType": [{"_name": "USB 3.1 Bus"}]}),
    "binary": lambda: "bplist00\xd1\x01\x02",
    "too_deep": lambda: plist(mac()).replace("<dict>", "<dict><key>x</key><array><dict>" * 100, 1)
    .replace("</dict>", "</dict></array></dict>" * 100, 1),
}


def build(name, path):
    with open(path, "w", encoding="utf-8") as f:
        f.write(TREES[name]())
