#!/usr/bin/env python3
"""Installs the freshly built Debian package into a throwaway root (dpkg -x,
never the machine's own /usr) and uses it from there: the program on a test
sysfs tree, its man page, and the bash completion at each position."""
import glob
import gzip
import os
import shlex
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLE = os.path.join(HERE, "..", "..", "examples", "registry-export.reg")
sys.path.insert(0, os.path.join(HERE, "..", "scenarios"))
import sysfs_trees  # noqa: E402

LISTING = ("0403 6001 FT1 /dev/ttyACM3\n1A2B 3C4D A1 /dev/ttyACM1\n1A2B 5E6F B2 /dev/ttyACM2\n"
           "2E8A 000A&MI_00 E661 /dev/ttyACM4\n")

# What the bash completion offers: the words typed so far (the last is the
# one being completed), the tree the program reads, and the candidates.
COMPLETIONS = [
    (["", ], "three_devices", ["--help", "-h", "--version", "--wait", "--wait-gone", "--json", "--all-ports", "--watch",
                               "--at", "0403", "1A2B"]),
    (["--json", "-"], "missing", ["--wait", "--all-ports", "--watch", "--at"]),
    (["--wait", "5", ""], "three_devices", ["--json", "--all-ports", "--at", "0403", "1A2B"]),
    (["--all-ports", "2E8A", ""], "three_devices", ["000A", "000A\\&MI_00"]),
    (["--all-ports", "2e8a", "000A", ""], "three_devices", ["E661"]),
    (["--all-ports", "1199", "0025", ""], "modem", ["1-2"]),
    (["1a86", "7523", ""], "example", ["5\\&1e5b1c3\\&0\\&3"]),
    (["--all-ports", "0403", "6010\\&MI_01", ""], "example", ["210292B17EA1"]),
    (["--all-ports", "0403", "6015", "'5"], "example", ["5&222e27aa&0&6"]),
    (["--wait", "5", "--at", "1-1", "-"], "three_devices", ["--json", "--all-ports"]),
    (["--watch", "-"], "missing", ["--json", "--all-ports", "--at"]),
    (["--wait-gone", "5", "-"], "missing", ["--all-ports", "--at"]),
    (["--at", ""], "three_devices", ["1-1", "1-2", "1-3", "1-4"]),
    (["--all-ports", "--at", "Port_#0002"], "example", ["Port_#0002.Hub_#0001"]),
    (["1"], "three_devices", ["1A2B"]),
    (["1a2b", ""], "three_devices", ["3C4D", "5E6F"]),
    (["1A2B", "5E6F", ""], "three_devices", ["B2"]),
    (["2E8A", ""], "three_devices", []),
    (["1A2B", "3C4D", "A1", ""], "three_devices", []),
    ([""], "missing", []),
]


def complete(root, exe, words, tree):
    script = os.path.join(root, "usr/share/bash-completion/completions/portsift")
    words = [exe] + words
    command = (f'source "{script}"; COMP_WORDS=({" ".join(shlex.quote(w) for w in words)}); '
               f'COMP_CWORD={len(words) - 1}; _portsift; printf "%s\\n" "${{COMPREPLY[@]}}"')
    # "example" is the example registry export; any other name a sysfs tree.
    source = dict(PORTSIFT_REGISTRY=EXAMPLE) if tree.endswith(".reg") else dict(PORTSIFT_SYSFS=tree)
    done = subprocess.run(["bash", "-c", command], env=dict(os.environ, **source),
                          capture_output=True, text=True, check=True)
    return sorted(line for line in done.stdout.splitlines() if line)


def main():
    deb, = glob.glob(os.path.join(sys.argv[1], "portsift_*_*.deb"))
    failures = []
    with tempfile.TemporaryDirectory() as work:
        root = os.path.join(work, "root")
        subprocess.run(["dpkg", "-x", deb, root], check=True)
        exe = os.path.join(root, "usr/bin/portsift")
        sysfs = sysfs_trees.build("three_devices", os.path.join(work, "three_devices"))
        sysfs_trees.build("modem", os.path.join(work, "modem"))
        listed = subprocess.run([exe], env=dict(os.environ, PORTSIFT_SYSFS=sysfs), capture_output=True, text=True)
        if (listed.stdout, listed.returncode) != (LISTING, 0):
            failures.append(f"installed program listed {listed.stdout!r}, status {listed.returncode}")
        with gzip.open(os.path.join(root, "usr/share/man/man1/portsift.1.gz"), "rt") as page:
            if not page.read().startswith(".TH PORTSIFT 1"):
                failures.append("usr/share/man/man1/portsift.1.gz is not the portsift(1) page")
        for words, tree, want in COMPLETIONS:
            got = complete(root, exe, words, EXAMPLE if tree == "example" else os.path.join(work, tree))
            if got != sorted(want):
                failures.append(f"completing {words} on {tree}: expected {sorted(want)}, got {got}")
    print("\n".join(failures) or f"{os.path.basename(deb)}: installed, listed, man page, {len(COMPLETIONS)} completions")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
