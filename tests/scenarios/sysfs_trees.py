"""Builds the sysfs trees the scenario rows name, with the kernel's layout:
devices under devices/pci0000:00/0000:00:14.0/usbN, links to them from
bus/usb/devices and class/tty, `device` and `subsystem` links, and attribute
files in the kernel's formats (idVendor %04x, bNumInterfaces %2d,
bInterfaceNumber %02x, uevent's PRODUCT=%x/%x/%x and TYPE=%d/%d/%d)."""
import os
import shutil

HC = "devices/pci0000:00/0000:00:14.0"


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def link(root, path, target):
    """A relative symlink at root/path pointing to root/target."""
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    os.symlink(os.path.relpath(os.path.join(root, target), os.path.dirname(full)), full)


class Tree:
    def __init__(self, root):
        self.root = root
        self.devices = 0
        for d in ("bus/usb/devices", "bus/usb-serial/devices", "bus/platform/devices", "class/tty"):
            os.makedirs(os.path.join(root, d), exist_ok=True)

    def device(self, parent, name, vid, pid, interfaces, device_class=0, serial=None, uevent=True, product=None,
               manufacturer=None, names=(), release=None):
        """A USB device directory under `parent` (a path under the root);
        returns its path. `interfaces` is a list of interface classes,
        `names` their strings where they have one. A copied tree may lack
        `uevent`: uevent=False leaves it out, and `release` is then bcdDevice."""
        path = f"{parent}/{name}"
        full = os.path.join(self.root, path)
        self.devices += 1
        bus = int(name[3:] if name.startswith("usb") else name.split("-")[0])
        write(f"{full}/busnum", f"{bus}\n")
        write(f"{full}/devnum", f"{self.devices}\n")
        if uevent:
            write(f"{full}/uevent",
                  f"MAJOR=189\nMINOR={self.devices}\nDEVNAME=bus/usb/{bus:03d}/{self.devices:03d}\n"
                  f"DEVTYPE=usb_device\nDRIVER=usb\nPRODUCT={vid:x}/{pid:x}/100\nTYPE={device_class}/0/0\n"
                  f"BUSNUM={bus:03d}\nDEVNUM={self.devices:03d}\n")
        write(f"{full}/idVendor", f"{vid:04x}\n")
        write(f"{full}/idProduct", f"{pid:04x}\n")
        write(f"{full}/bNumInterfaces", f"{len(interfaces):2d}\n")
        write(f"{full}/bDeviceClass", f"{device_class:02x}\n")
        for attr, text in (("serial", serial), ("product", product), ("manufacturer", manufacturer),
                           ("bcdDevice", release and f"{release:04x}")):
            if text is not None:
                write(f"{full}/{attr}", text + "\n")
        link(self.root, f"{path}/subsystem", "bus/usb")
        link(self.root, f"bus/usb/devices/{name}", path)
        # A root hub's interfaces are named after bus N, port 0: N-0:1.0.
        prefix = name[3:] + "-0" if name.startswith("usb") else name
        for number, cls in enumerate(interfaces):
            iface = f"{path}/{prefix}:1.{number}"
            write(os.path.join(self.root, iface, "bInterfaceNumber"), f"{number:02x}\n")
            write(os.path.join(self.root, iface, "bInterfaceClass"), f"{cls:02x}\n")
            if number < len(names) and names[number] is not None:
                write(os.path.join(self.root, iface, "interface"), names[number] + "\n")
            link(self.root, f"{iface}/subsystem", "bus/usb")
            link(self.root, f"bus/usb/devices/{os.path.basename(iface)}", iface)
        return path

    def acm(self, device, number, tty):
        """A cdc_acm tty on interface `number` of `device`."""
        iface = f"{device}/{os.path.basename(device)}:1.{number}"
        node = f"{iface}/tty/{tty}"
        write(os.path.join(self.root, node, "dev"), f"166:{tty[6:]}\n")
        link(self.root, f"{node}/device", iface)
        link(self.root, f"{node}/subsystem", "class/tty")
        link(self.root, f"class/tty/{tty}", node)

    def usb_serial(self, device, number, tty, port_number=0):
        """A usb-serial port device and its tty under interface `number`."""
        iface = f"{device}/{os.path.basename(device)}:1.{number}"
        port = f"{iface}/{tty}"
        write(os.path.join(self.root, port, "port_number"), f"{port_number}\n")
        link(self.root, f"{port}/subsystem", "bus/usb-serial")
        link(self.root, f"bus/usb-serial/devices/{tty}", port)
        node = f"{port}/tty/{tty}"
        write(os.path.join(self.root, node, "dev"), f"188:{tty[6:]}\n")
        link(self.root, f"{node}/device", port)
        link(self.root, f"{node}/subsystem", "class/tty")
        link(self.root, f"class/tty/{tty}", node)



def relink_absolute(root, path):
    """Makes the link at root/path absolute, as a copied tree may have it."""
    full = os.path.join(root, path)
    target = os.path.realpath(full)
    os.remove(full)
    os.symlink(target, full)


def other_ttys(root):
    """A platform UART and a virtual console: not USB, never listed."""
    uart = "devices/platform/serial8250"
    link(root, f"{uart}/subsystem", "bus/platform")
    write(os.path.join(root, uart, "tty/ttyS0/dev"), "4:64\n")
    link(root, f"{uart}/tty/ttyS0/device", uart)
    link(root, "class/tty/ttyS0", f"{uart}/tty/ttyS0")
    write(os.path.join(root, "devices/virtual/tty/tty0/dev"), "4:0\n")
    link(root, "class/tty/tty0", "devices/virtual/tty/tty0")


def mixed(root):
    t = Tree(root)
    usb1 = t.device(HC, "usb1", 0x1D6B, 0x0002, [0x09], device_class=0x09, serial="0000:00:14.0")
    board = t.device(usb1, "1-1", 0x1A2B, 0x3C4D, [0x02, 0x0A], device_class=0x02, serial="A1B2C3",
                     product='Board "B" \\ rev\t2', manufacturer="Acme")
    t.acm(board, 0, "ttyACM0")
    # Copied without its uevent: read through the ID and class files.
    ftdi = t.device(usb1, "1-2", 0x0403, 0x6001, [0xFF], serial="FT1", uevent=False)
    t.usb_serial(ftdi, 0, "ttyUSB0")
    dual = t.device(usb1, "1-3", 0x0403, 0x6010, [0xFF, 0xFF], serial="FT2P")
    t.usb_serial(dual, 0, "ttyUSB1")
    t.usb_serial(dual, 1, "ttyUSB2")
    pico = t.device(usb1, "1-7", 0x2E8A, 0x000A, [0x02, 0x0A, 0xFF], device_class=0xEF, serial="E661")
    t.acm(pico, 0, "ttyACM1")
    anon = t.device(usb1, "1-4", 0xCAFE, 0x0001, [0x02, 0x0A], device_class=0x02)
    t.acm(anon, 0, "ttyACM2")
    twin1 = t.device(usb1, "1-5", 0x10C4, 0xEA60, [0xFF], serial="0001")
    t.usb_serial(twin1, 0, "ttyUSB3")
    hub = t.device(usb1, "1-6", 0x05E3, 0x0608, [0x09], device_class=0x09)
    twin2 = t.device(hub, "1-6.2", 0x10C4, 0xEA60, [0xFF], serial="0001")
    t.usb_serial(twin2, 0, "ttyUSB4")
    t.device(hub, "1-6.3", 0x046D, 0xC31C, [0x03, 0x03], serial="")
    other_ttys(root)


def no_usb(root):
    """A machine with no USB device attached: its bus has no devices."""
    os.makedirs(os.path.join(root, "class/tty"))
    os.makedirs(os.path.join(root, "bus/usb/devices"))
    other_ttys(root)


def broken(root):
    """One good board among dangling links, a link loop, a FIFO, a directory
    and empty files where attributes belong, and ttys that lead nowhere."""
    t = Tree(root)
    usb1 = t.device(HC, "usb1", 0x1D6B, 0x0002, [0x09], device_class=0x09)
    board = t.device(usb1, "1-1", 0x1A2B, 0x3C4D, [0x02, 0x0A], device_class=0x02, serial="A1B2C3")
    t.acm(board, 0, "ttyACM0")
    os.symlink("../../../devices/nowhere", os.path.join(root, "bus/usb/devices/1-9"))
    os.symlink("1-8", os.path.join(root, "bus/usb/devices/1-8"))
    empty = f"{usb1}/1-2"
    write(os.path.join(root, empty, "idVendor"), "")
    write(os.path.join(root, empty, "idProduct"), "")
    link(root, "bus/usb/devices/1-2", empty)
    odd = f"{usb1}/1-3"
    os.makedirs(os.path.join(root, odd, "idVendor"))
    os.mkfifo(os.path.join(root, odd, "idProduct"))
    link(root, "bus/usb/devices/1-3", odd)
    # A port whose interface lost its number, and a tty whose device is gone.
    half = t.device(usb1, "1-4", 0x0403, 0x6001, [0xFF], serial="HALF")
    t.usb_serial(half, 0, "ttyUSB0")
    os.remove(os.path.join(root, f"{half}/1-4:1.0/bInterfaceNumber"))
    # Linked in another form than the kernel's, so that it is followed.
    relink_absolute(root, "class/tty/ttyUSB0")
    os.symlink("../../devices/gone/tty/ttyUSB9", os.path.join(root, "class/tty/ttyUSB9"))
    os.symlink("ttyLOOP", os.path.join(root, "class/tty/ttyLOOP"))


def case_twins(root):
    """Two adapters whose serial numbers differ only in case: the same
    instance name to the registry, so both go by their sysfs names."""
    t = Tree(root)
    usb1 = t.device(HC, "usb1", 0x1D6B, 0x0002, [0x09], device_class=0x09)
    for port, serial in ((1, "ab01"), (2, "AB01")):
        adapter = t.device(usb1, f"1-{port}", 0x10C4, 0xEA60, [0xFF], serial=serial)
        t.usb_serial(adapter, 0, f"ttyUSB{port}")


def modem(root):
    """A modem with two usb-serial ports on one interface (the driver's
    port_number 0 and 1), no serial number, and one of its ttys linked in
    another form than the kernel's."""
    t = Tree(root)
    usb1 = t.device(HC, "usb1", 0x1D6B, 0x0002, [0x09], device_class=0x09)
    sierra = t.device(usb1, "1-2", 0x1199, 0x0025, [0xFF, 0xFF])
    t.usb_serial(sierra, 0, "ttyUSB3", port_number=1)
    t.usb_serial(sierra, 0, "ttyUSB2", port_number=0)
    relink_absolute(root, "class/tty/ttyUSB3")


def three_devices(root):
    """Three boards, two of them sharing a VID, and a composite device's
    function, which the completions leave out."""
    t = Tree(root)
    usb1 = t.device(HC, "usb1", 0x1D6B, 0x0002, [0x09], device_class=0x09)
    for port, (vid, pid, serial) in enumerate(((0x1A2B, 0x3C4D, "A1"), (0x1A2B, 0x5E6F, "B2"),
                                               (0x0403, 0x6001, "FT1")), start=1):
        board = t.device(usb1, f"1-{port}", vid, pid, [0x02, 0x0A], device_class=0x02, serial=serial)
        t.acm(board, 0, f"ttyACM{port}")
    pico = t.device(usb1, "1-4", 0x2E8A, 0x000A, [0x02, 0x0A, 0xFF], device_class=0xEF, serial="E661")
    t.acm(pico, 0, "ttyACM4")


def one_board(root):
    """A board plugged into a tree that may have none yet."""
    t = Tree(root)
    usb1 = t.device(HC, "usb1", 0x1D6B, 0x0002, [0x09], device_class=0x09)
    t.acm(t.device(usb1, "1-1", 0x1A2B, 0x3C4D, [0x02, 0x0A], device_class=0x02, serial="A1"), 0, "ttyACM0")


def not_sysfs(root):
    """A folder that is no sysfs tree: no class/tty."""
    os.makedirs(os.path.join(root, "class"))


def no_controller(root):
    """A virtual machine without a USB controller: no bus/usb at all."""
    os.makedirs(os.path.join(root, "class/tty"))
    other_ttys(root)


def odd_serials(root):
    """A serial number that is another board's sysfs name (that board has
    none), and one with a blank: neither can name an instance."""
    t = Tree(root)
    usb1 = t.device(HC, "usb1", 0x1D6B, 0x0002, [0x09], device_class=0x09)
    for n, (pid, serial) in enumerate(((0x0002, "1-2"), (0x0002, None), (0x0003, "SN WITH SPACE"))):
        board = t.device(usb1, f"1-{n + 1}", 0x1209, pid, [0x02, 0x0A], device_class=0x02, serial=serial)
        t.acm(board, 0, f"ttyACM{n}")


def named_boards(root):
    """A probe whose two ports are functions with strings of their own, a
    board whose one function is named as its product, and a copied board's
    release from bcdDevice."""
    t = Tree(root)
    usb1 = t.device(HC, "usb1", 0x1D6B, 0x0002, [0x09], device_class=0x09)
    probe = t.device(usb1, "1-1", 0x1D50, 0x6018, [0x02, 0x0A, 0x02, 0x0A], device_class=0xEF, serial="7BB180B4",
                     product='Black Magic "Probe"\\', names=["GDB Server", None, "UART\tPort"])
    t.acm(probe, 0, "ttyACM0")
    t.acm(probe, 2, "ttyACM2")
    pico = t.device(usb1, "1-2", 0x2E8A, 0x000A, [0x02, 0x0A, 0xFF], device_class=0xEF, serial="E661", product="Pico",
                    names=["Pico"])
    t.acm(pico, 0, "ttyACM4")
    old = t.device(usb1, "1-3", 0x2341, 0x0043, [0x02, 0x0A], device_class=0x02, uevent=False, release=0x0213)
    t.acm(old, 0, "ttyACM5")


def leonardo(root, driver=True):
    """A composite board (CDC and HID) on socket 1-4, running its sketch;
    without its driver it has no tty."""
    t = Tree(root)
    usb1 = t.device(HC, "usb1", 0x1D6B, 0x0002, [0x09], device_class=0x09)
    board = t.device(usb1, "1-4", 0x2341, 0x8036, [0x02, 0x0A, 0x03], device_class=0xEF, serial="HIDPC")
    if driver:
        t.acm(board, 0, "ttyACM0")


def leonardo_gone(root):
    """The board has left socket 1-4 after its 1200-baud touch."""
    shutil.rmtree(os.path.join(root, HC, "usb1", "1-4"))
    for link_path in ("class/tty/ttyACM0", "bus/usb/devices/1-4", "bus/usb/devices/1-4:1.0",
                      "bus/usb/devices/1-4:1.1", "bus/usb/devices/1-4:1.2"):
        os.remove(os.path.join(root, link_path))


def leonardo_boot_loader(root):
    """The same board back on socket 1-4 as its boot loader, another PID."""
    t = Tree(root)
    t.acm(t.device(f"{HC}/usb1", "1-4", 0x2341, 0x0036, [0x02, 0x0A], device_class=0x02), 0, "ttyACM1")


TREES = {"leonardo": leonardo, "leonardo_gone": leonardo_gone, "leonardo_boot_loader": leonardo_boot_loader,
         "leonardo_without_driver": lambda root: leonardo(root, driver=False),
         "named_boards": named_boards, "not_sysfs": not_sysfs, "no_controller": no_controller, "odd_serials": odd_serials, "one_board": one_board, "mixed": mixed, "modem": modem, "three_devices": three_devices, "no_usb": no_usb, "broken": broken, "case_twins": case_twins}


def build(name, root):
    os.makedirs(root, exist_ok=True)
    TREES[name](root)
    return root
