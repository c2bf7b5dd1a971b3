#!/usr/bin/env python3
"""Runs two builds of portsift, the one that landed and a new one, over the
same random sysfs trees and registry exports with every kind of command
line, and counts the runs whose standard output, standard error or exit
status differ. A change that is to keep every byte prints 0.

Usage: bench/compare.py OLD NEW [--trees N] [--exports N] [--seed S] [--new-field NAME ...]

--new-field names a field of the JSON document that NEW adds: it is left
out of NEW's output before the two are compared.

Serial numbers that no instance can be named after (blanks, another
device's sysfs name) are left out of the trees: their naming changed on
purpose."""
import argparse
import os
import random
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import gen  # noqa: E402
import sysfs_trees  # noqa: E402  (on the path that gen put it on)

VIDS = [0x1A2B, 0x2E8A, 0x0403, 0x10C4]
PIDS = [0x3C4D, 0x000A, 0x6001, 0x6010, 0xEA60]
SERIALS = [None, "", "A1", "a1", "E6613893", "FT,1", "0001", "\u00e9t\u00e9", "x" * 300]


def random_tree(root, rng):
    """Boards behind one or two hubs: ACM and usb-serial ports, composite
    devices, several ports on one interface, serials shared or missing."""
    t = sysfs_trees.Tree(root)
    for bus in range(1, rng.randint(1, 2) + 1):
        hub = t.device(sysfs_trees.HC, f"usb{bus}", 0x1D6B, 0x0002, [0x09], device_class=0x09)
        for port in range(1, rng.randint(0, 6) + 1):
            interfaces = rng.choice([[0x02, 0x0A], [0xFF], [0x02, 0x0A, 0xFF], [0xFF, 0xFF]])
            board = t.device(hub, f"{bus}-{port}", rng.choice(VIDS), rng.choice(PIDS), interfaces,
                             device_class=rng.choice([0x00, 0x02, 0xEF]), serial=rng.choice(SERIALS),
                             product=rng.choice([None, "Pico", "Board \"2\""]), manufacturer=rng.choice([None, "Acme"]),
                             uevent=rng.random() < 0.8)
            for number in range(len(interfaces)):
                for _ in range(rng.choice([0, 1, 1, 2]) if interfaces[number] != 0x02 else 1):
                    tty = f"tty{rng.choice(['ACM', 'USB'])}{t.devices * 10 + number}{rng.randint(0, 9)}"
                    if not os.path.exists(os.path.join(root, "class/tty", tty)):
                        (t.acm if tty.startswith("ttyACM") else t.usb_serial)(board, number, tty)
    sysfs_trees.other_ttys(root)


def command_lines(listing, rng):
    """Every mode, and lookups of what is listed and of what is not."""
    fields = [line.split(" ") for line in listing.splitlines() if len(line.split(" ")) == 4]
    picks = [rng.choice(fields) for _ in range(3)] if fields else []
    lines = [[], ["-h"], ["--version"], ["1A2B"], ["--json"], ["--all-ports"], ["--all-ports", "--json"],
             ["ZZZZ", "YYYY"], ["1A2B", "3C4D", "none"], ["--at", "1-1"], ["--at", "Port_#0005.Hub_#0001", "--json"],
             ["--wait", "0", "--json"], ["--wait-gone", "0"], ["--jsn"], ["--wait", "x"], ["--wait", "1", "--watch"]]
    for vid, pid, serial, _ in picks:
        lines += [[vid, pid], [vid, pid, serial], ["--json", vid, pid[:4]], ["--all-ports", vid, pid],
                  ["--all-ports", vid, pid[:4], serial], ["--all-ports", "--json", vid, pid[:4], serial],
                  ["--wait", "0", vid, pid[:4], serial], [vid.lower(), pid[:4].lower(), serial.upper()]]
    return lines


def run(exe, args, env, new_fields=()):
    done = subprocess.run(["portsift"] + args, executable=exe, env=env, capture_output=True, timeout=60)
    out = done.stdout
    for field in new_fields:
        # Indented ("name": value,) or compact (,"name":value) in an object.
        out = re.sub(rb',\n *"%s": (null|"(\\.|[^"\\])*")' % field.encode(), b"", out)
        out = re.sub(rb',"%s":(null|"(\\.|[^"\\])*")' % field.encode(), b"", out)
    return done.returncode, out, done.stderr


def compare(old, new, env, listing_args, rng, where, new_fields):
    listing = run(old, listing_args, env)[1].decode("utf-8", "replace")
    lines = command_lines(listing, rng)
    differences = 0
    for args in lines:
        a, b = run(old, args, env), run(new, args, env, new_fields)
        if a != b:
            differences += 1
            print(f"{where} {args}:\n  old {a}\n  new {b}", file=sys.stderr)
    return len(lines), listing.count("\n"), differences


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("old")
    parser.add_argument("new")
    parser.add_argument("--trees", type=int, default=100)
    parser.add_argument("--exports", type=int, default=30)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--new-field", action="append", default=[])
    options = parser.parse_args()
    rng = random.Random(options.seed)
    runs = ports = differences = 0
    with tempfile.TemporaryDirectory() as work:
        for n in range(options.trees):
            root = os.path.join(work, f"tree{n}")
            random_tree(root, rng)
            env = dict(os.environ, PORTSIFT_SYSFS=root)
            env.pop("PORTSIFT_REGISTRY", None)
            counts = compare(options.old, options.new, env, [], rng, root, options.new_field)
            runs, ports, differences = runs + counts[0], ports + counts[1], differences + counts[2]
        for n in range(options.exports):
            path = os.path.join(work, f"export{n}.reg")
            make = gen.export if n % 2 else gen.device_export
            with open(path, "wb") as f:
                f.write(make(rng.randint(0, 60), seed=rng.randint(1, 10**6)))
            env = dict(os.environ, PORTSIFT_REGISTRY=path)
            counts = compare(options.old, options.new, env, ["--all-ports"], rng, path, options.new_field)
            runs, ports, differences = runs + counts[0], ports + counts[1], differences + counts[2]
    print(f"{options.trees} sysfs trees and {options.exports} exports ({ports} ports), {runs} command lines: "
          f"{differences} differ in output or status")
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
