#!/usr/bin/env python3
"""Shows that portsift.exe only reads the registry: the Wine prefix's registry
files are byte-identical before and after every Wine row of the table has run
against an imported registry.

Wine's own start-up (wineboot: services and device setup) rewrites keys and
write times at every start, so for this comparison the runs go without it;
the program needs neither. One write time is set apart: the port query loads
Wine's port-configuration provider, whose user32 import sets up GDI fonts and
rewrites HKCU\Software\Wine\Fonts with the same contents in any process that
asks for a port; that key's contents are still compared. And Wine's SetupAPI,
asked to open a device node (for the names --json shows), writes the node's
class into its key, "Class" and ClassGUID upper-cased, where Windows' writes
nothing: those two and the key's write time are set apart, the rest of the
key compared."""
import json
import os
import re
import signal
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "scenarios"))
import run_row  # noqa: E402
import wine  # noqa: E402


WINE_OWN_WRITES = re.compile(rb"^(\[Software\\\\Wine\\\\Fonts\]) \d+\n#time=\w+\n", re.M)
DEVICE_NODE_TIME = re.compile(rb"^(\[System\\\\CurrentControlSet\\\\Enum\\\\[^\n]*\]) \d+\n#time=\w+\n", re.M)
DEVICE_CLASS = re.compile(rb'^"Class"="[^"\n]*"\n', re.M)
CLASS_GUID = re.compile(rb'^"ClassGUID"="[^"\n]*"', re.M)


def registry_files(prefix):
    names = sorted(n for n in os.listdir(prefix) if n.endswith(".reg"))
    assert names, f"no registry files in {prefix}"
    files = {}
    for n in names:
        data = WINE_OWN_WRITES.sub(rb"\1\n", open(os.path.join(prefix, n), "rb").read())
        data = DEVICE_CLASS.sub(b"", DEVICE_NODE_TIME.sub(rb"\1\n", data))
        files[n] = CLASS_GUID.sub(lambda m: m[0].upper(), data)
    return files


def run(args, env):
    """The status of one run; a watch is ended after a moment, with Ctrl-C."""
    with subprocess.Popen(args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) as proc:
        try:
            return proc.wait(timeout=2 if "--watch" in args else 60)
        except subprocess.TimeoutExpired:
            proc.send_signal(signal.SIGINT)
            return proc.wait(timeout=60)


def main():
    table, exe, prefix = sys.argv[1:4]
    wine.require_loader()
    os.environ["WINEPREFIX"] = prefix  # for the import below, too
    env = wine.env()
    rows = [r for r in json.load(open(table, encoding="utf-8")) if r.get("only") != "linux"]
    with tempfile.TemporaryDirectory() as workdir:
        fixture = next(r for r in rows if r.get("fixture") == "basic.reg")
        run_row.run_wine(dict(fixture, args=[]), exe, workdir)
    wine.stop_server(env)
    before = registry_files(prefix)
    quiet = wine.env(WINEDLLOVERRIDES="wineboot.exe=d")
    # One server for all the runs, as in the table's own tests.
    subprocess.run(["wineserver", "--persistent"], env=quiet, check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    runs = [[wine.loader(), exe] + [run_row.expand(a) for a in row["args"]] for row in rows]
    statuses = [run(args, quiet) for args in runs]
    wine.stop_server(env)
    after = registry_files(prefix)
    wine.start()
    # The runs must have reached the registry: the fixture lists ports.
    if statuses[0] != 0:
        print(f"the first run ended with status {statuses[0]}")
        return 1
    changed = [name for name in before if before[name] != after.get(name)]
    if changed:
        print("registry files changed by the runs:", ", ".join(changed))
        return 1
    print(f"{len(runs)} runs; {len(before)} registry files byte-identical")
    return 0


if __name__ == "__main__":
    sys.exit(main())
