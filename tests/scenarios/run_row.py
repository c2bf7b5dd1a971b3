#!/usr/bin/env python3
"""Runs one row of the scenario table against portsift and compares its
standard output, standard error and exit status byte for byte.

Natively the registry export is handed over in PORTSIFT_REGISTRY; under Wine
it is imported into the test's own prefix with `reg import` first. A row
marked "console" runs with its output on a terminal, which Wine makes the
program's console.
"""
import argparse
import json
import os
import re
import resource
import signal
import shlex
import subprocess
import sys
import tempfile
import time
from datetime import datetime, timezone

import ioreg_trees
import sysfs_trees

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "wine"))
import wine  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
HEADER = "Windows Registry Editor Version 5.00"
# Wine starts each import from a registry without the keys the rows use.
WINE_RESET = [
    r"[-HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\USB]",
    r"[-HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\FTDIBUS]",
    r"[-HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM]",
]


def expand(text):
    """{TEXT*N} stands for TEXT repeated N times."""
    return re.sub(r"\{([^{}*]+)\*(\d+)\}", lambda m: m.group(1) * int(m.group(2)), text)


def many_devices(count):
    """An export with `count` device keys of one instance each, none of them a
    serial port but the last."""
    usb = r"[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\USB"
    lines = [HEADER, ""]
    for i in range(count):
        lines += [rf"{usb}\VID_{i >> 16:04X}&PID_{i & 0xFFFF:04X}\SN{i}]",
                  '"ClassGUID"="{36fc9e60-c465-11cf-8056-444553540000}"', ""]
    lines += [rf"{usb}\VID_FFFF&PID_FFFF\LAST]", '"ClassGUID"="{4d36e978-e325-11ce-bfc1-08002be10318}"',
              rf"{usb}\VID_FFFF&PID_FFFF\LAST\Device Parameters]", '"PortName"="COM3"', "",
              r"[HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM]", '"A"="COM3"', ""]
    return "\r\n".join(lines)


def load_row(table, name):
    with open(table, encoding="utf-8") as f:
        rows = json.load(f)
    for row in rows:
        if row["name"] == name:
            return row
    sys.exit(f"no row named {name!r} in {table}")


def export_text(row):
    """The row's registry export as text, or None when it is given as bytes."""
    if "fixture" in row:
        with open(os.path.join(HERE, "fixtures", row["fixture"]), "rb") as f:
            data = f.read()
        # UTF-16LE with BOM, as reg export writes, or UTF-8.
        return data[2:].decode("utf-16-le") if data[:2] == b"\xff\xfe" else data.decode("utf-8")
    if "many_devices" in row:
        return many_devices(row["many_devices"])
    if "registry" in row:
        return "\r\n".join([HEADER, ""] + [expand(line) for line in row["registry"]]) + "\r\n"
    return None


def encode(text, encoding):
    if encoding == "utf16":
        return b"\xff\xfe" + text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-16-le")
    if encoding == "utf8-bom":
        return b"\xef\xbb\xbf" + text.encode("utf-8")
    return text.encode("utf-8")


def write_export(row, workdir, encoding):
    """Writes the export the row names and returns its path."""
    special = row.get("registry_path")
    if special == "missing":
        return os.path.join(workdir, "no-such-export.reg")
    if special == "endless":
        return "/dev/zero"
    if special == "sparse":
        # 1.1 GB that take no room: its size alone should refuse it.
        path = os.path.join(workdir, "sparse.reg")
        with open(path, "wb") as f:
            f.truncate(1100 * 1000 * 1000)
        return path
    if special == "unreadable":
        path = os.path.join(workdir, "unreadable.reg")
        open(path, "w").close()
        os.chmod(path, 0)
        return path
    if special == "directory":
        path = os.path.join(workdir, "a-directory.reg")
        os.mkdir(path)
        return path
    text = export_text(row)
    data = row["registry_bytes"].encode("latin-1") if text is None else encode(text, encoding)
    path = os.path.join(workdir, "registry.reg")
    with open(path, "wb") as f:
        f.write(data)
    return path


USAGE = (
    "portsift v1 (2011-04-06)\n\nUsage:\n\t{argv0}: [VID PID] [S/N]\n\n"
    "Lists all USB CDC (serial port) devices matching the given filters.\n"
    "VID and PID should be strings of 4 hexadecimal digits and S/N should\n"
    "be less than 200 characters.\n"
)


# What follows a refusal's reason when options are on the line.
SYNOPSIS = "".join("{argv0} " + line + "\n" for line in (
    "[--wait SECONDS] [--json] [--all-ports] [--at LOCATION] [VID PID [S/N]]",
    "--wait-gone SECONDS [--all-ports] [--at LOCATION] [VID PID [S/N]]",
    "--watch [--json] [--all-ports] [--at LOCATION] [VID PID [S/N]]", "--version"))


def expected(row, key, registry, argv0):
    text = expand(row[key]).replace("{usage}", USAGE).replace("{synopsis}", SYNOPSIS)
    return text.replace("{registry}", registry).replace("{argv0}", argv0).encode("utf-8")


# A failure report is "tag: code: system text"; the texts are worded
# differently by Windows and by Wine, and only theirs may differ.
REPORT = re.compile(rb"^(main:\d+:.*?: -?\d+: ).*?(\r?\n)+", re.M)


def normalise_wine(data):
    data = data.replace(b"\r\n", b"\n")
    return REPORT.sub(rb"\1<system text>\n", data)


# A watch event's time: UTC, RFC 3339 with milliseconds.
EVENT_TIME = re.compile(rb'"time":"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3})Z"')


def event_times(data, start, end):
    """Each event's time as {time}, where it lies within the run (a second's
    leeway) and never before the one before it; any other is left as it is."""
    last = start - 1

    def checked(match):
        nonlocal last
        seen = datetime.strptime(match[1].decode(), "%Y-%m-%dT%H:%M:%S.%f").replace(tzinfo=timezone.utc).timestamp()
        good = last <= seen <= end + 1
        last = max(last, seen)
        return b'"time":"{time}"' if good else match[0]
    return EVENT_TIME.sub(checked, data)


def terminal_text(data):
    """What a terminal shows of Wine's console output: its cursor moves
    forward become blanks, its other control sequences and carriage returns
    go."""
    data = re.sub(rb"\x1b\[(\d*)C", lambda m: b" " * int(m.group(1) or 1), data)
    return re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]|\r", b"", data)


def arg_bytes(row, arg):
    """An argument as the bytes the program gets: UTF-8, or with
    "args_latin1" one byte per character, for bytes that are not UTF-8."""
    return expand(arg).encode("latin-1" if row.get("args_latin1") else "utf-8")


KERNEL_EVENT = "/sys/devices/virtual/tty/tty0/uevent"


def run(args, env, changes=(), output=None, stdin=None):
    """Runs the program; each of a row's "later" changes is applied its
    `after_ms` into the run, while the program waits or watches (a signal
    among them ends a watch). Its standard output is a pipe, or with
    "output": /dev/full, "closed", or a pipe whose reader has gone."""
    stdout = open("/dev/full", "wb") if output == "full" else subprocess.PIPE
    if output == "reader_gone":
        # A pipe whose reader has gone before the program starts: its first
        # write meets it, however the two are scheduled.
        reader, stdout = os.pipe()
        os.close(reader)
    close = (lambda: os.close(1)) if output == "closed" else None
    with subprocess.Popen(args, env=env, stdin=stdin and subprocess.PIPE, stdout=stdout, stderr=subprocess.PIPE,
                          preexec_fn=close) as proc:
        if output == "reader_gone":
            os.close(stdout)
        start = time.monotonic()
        for after_ms, apply in changes:
            time.sleep(max(0, start + after_ms / 1000 - time.monotonic()))
            apply(proc)
        out, err = proc.communicate(stdin, timeout=60)
    return subprocess.CompletedProcess(args, proc.returncode, out or b"", err)


def later(row, apply):
    """The row's changes during the run, one or a list: (after_ms, what
    applies it to the running program). {"signal": "INT"} sends it one."""
    changes = row.get("later", [])
    changes = [changes] if isinstance(changes, dict) else changes
    return [(c["after_ms"], lambda proc, c=c: proc.send_signal(getattr(signal, "SIG" + c["signal"])) if "signal" in c
             else apply(c)) for c in changes]


def run_native(row, exe, workdir):
    env = dict(os.environ, LANG="C", LC_ALL="C")
    piped = None  # the export's bytes, when it comes down a pipe
    if "ioreg" in row:
        # A Mac's recorded IO registry; with "registry", an export named too.
        registry = os.path.join(workdir, "ioreg.xml")
        if row["ioreg"] != "missing":
            ioreg_trees.build(row["ioreg"], registry)
        for name in ("PORTSIFT_REGISTRY", "PORTSIFT_SYSFS"):
            env.pop(name, None)
        if "registry" in row:
            env["PORTSIFT_REGISTRY"] = write_export(row, workdir, "utf8")
        env["PORTSIFT_IOREG"] = registry
    elif "sysfs" in row:
        # The registry is built from a sysfs tree; "missing" names none.
        registry = os.path.join(workdir, "sys")
        if row["sysfs"] != "missing":
            sysfs_trees.build(row["sysfs"], registry)
        env.pop("PORTSIFT_REGISTRY", None)
        env["PORTSIFT_SYSFS"] = registry
    else:
        registry = write_export(row, workdir, row.get("encoding", "utf8"))
        if row.get("registry_path") == "pipe":
            # The export comes down a pipe, as from another program.
            with open(registry, "rb") as f:
                piped = f.read()
            registry = "/dev/stdin"
        env.pop("PORTSIFT_SYSFS", None)
        env["PORTSIFT_REGISTRY"] = registry
    udev = os.path.join(workdir, "udev", "data")
    if "udev" in row:
        # udev's folder, its control socket (where udev runs) and its records.
        os.makedirs(udev)
        for name in row["udev"]:
            open(os.path.join(udev, "..", "control") if name == "control" else os.path.join(udev, name), "w").close()
        env["PORTSIFT_UDEV"] = os.path.dirname(udev)
    args = [exe] + [arg_bytes(row, a) for a in row["args"]]
    if "script" in row:
        # A script of the README's, with the program on PATH and each tool it
        # drives standing in by writing its command line.
        bin_dir = os.path.join(workdir, "bin")
        os.makedirs(bin_dir)
        os.symlink(os.path.abspath(exe), os.path.join(bin_dir, "portsift"))
        for tool in row.get("stubs", []):
            with open(os.path.join(bin_dir, tool), "w") as f:
                f.write('#!/bin/sh\necho "${0##*/} $*"\n')
            os.chmod(os.path.join(bin_dir, tool), 0o755)
        env["PATH"] = bin_dir + os.pathsep + env["PATH"]
        args = ["sh", os.path.join(HERE, "..", "..", row["script"])] + args[1:]
    if row.get("registry_path") == "unreadable" and os.geteuid() == 0:
        # Root reads any file: the program runs as nobody to meet the refusal.
        os.chmod(workdir, 0o755)
        args = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] + args
    def apply(change):
        # A board added to the tree, udev's record of a tty written as udev
        # writes it (then renamed into place), or the export written anew.
        if "udev" in change:
            open(os.path.join(udev, ".tmp"), "w").close()
            os.rename(os.path.join(udev, ".tmp"), os.path.join(udev, change["udev"]))
        elif "ioreg" in change:
            ioreg_trees.build(change["ioreg"], registry + ".new")
            os.rename(registry + ".new", registry)
        elif "sysfs" in change:
            sysfs_trees.TREES[change["sysfs"]](registry)
            if change.get("event") and os.access(KERNEL_EVENT, os.W_OK):
                with open(KERNEL_EVENT, "w") as f:
                    f.write("change")  # the kernel sends a tty event, as for a plug-in
        else:
            with open(registry, "wb") as f:
                f.write(encode(export_text(change), row.get("encoding", "utf8")))
    done = run(args, env, later(row, apply), row.get("output"), piped)
    want = (expected(row, "stdout", registry, exe), expected(row, "stderr", registry, exe))
    return done, want, lambda data: data


def run_wine(row, exe, workdir):
    wine.require_loader()
    env = wine.env()
    text = "\r\n".join([HEADER, ""] + WINE_RESET) + "\r\n" + export_text(row).split("\n", 1)[1]
    # An export joined from several: one import of their keys.
    text = re.sub("\ufeff" + HEADER + "\r?\n", "", text)
    registry = os.path.join(workdir, "import.reg")
    with open(registry, "wb") as f:
        f.write(encode(text, "utf16"))
    subprocess.run([wine.loader(), "reg", "import", registry], env=env, check=True, capture_output=True, timeout=60)
    args = [wine.loader(), exe] + [expand(a) for a in row["args"]]
    # Wine hands the program its own path as a Windows path on drive Z:.
    argv0 = "Z:" + os.path.abspath(exe).replace("/", "\\")
    want = (expected(row, "stdout", registry, argv0), expected(row, "stderr", registry, argv0))
    if row.get("console"):
        # Both streams reach the one terminal, in the locale's characters.
        command = " ".join(shlex.quote(a) for a in args)
        done = subprocess.run(["script", "-qec", command, "/dev/null"], env=dict(env, LC_ALL="C.UTF-8"),
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        done.stdout, done.stderr = terminal_text(done.stdout), b""
        return done, (normalise_wine(want[0] + want[1]), b""), normalise_wine
    def apply(change):
        if "delete" in change:
            # A key taken away, as a driver's uninstall does.
            subprocess.run([wine.loader(), "reg", "delete", change["delete"], "/f"], env=env, check=True,
                           capture_output=True, timeout=60)
            return
        # Keys added by an import, as a driver adds them.
        path = os.path.join(workdir, "later.reg")
        with open(path, "wb") as f:
            f.write(encode(export_text(change), "utf16"))
        subprocess.run([wine.loader(), "reg", "import", path], env=env, check=True, capture_output=True, timeout=60)
    done = run(args, env, later(row, apply), row.get("output"))
    return done, tuple(normalise_wine(w) for w in want), normalise_wine


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--table", required=True)
    parser.add_argument("--row", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--wine", action="store_true")
    opts = parser.parse_args()
    row = load_row(opts.table, opts.row)
    start = time.time()
    with tempfile.TemporaryDirectory() as workdir:
        runner = run_wine if opts.wine else run_native
        done, (want_out, want_err), normalise = runner(row, opts.exe, workdir)
    got = (event_times(normalise(done.stdout), start, time.time()), normalise(done.stderr), done.returncode)
    want = (want_out, want_err, row["status"])
    peak_mib = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024
    if peak_mib > row.get("max_rss_mib", peak_mib):
        got, want = got + (f"peak {peak_mib:.0f} MiB",), want + (f"at most {row['max_rss_mib']} MiB",)
    failures = [
        f"{what}:\n  expected {w!r}\n  got      {g!r}"
        for what, w, g in zip(("standard output", "standard error", "exit status", "memory"), want, got)
        if w != g
    ]
    if failures:
        print("\n".join(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
