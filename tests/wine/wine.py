#!/usr/bin/env python3
"""The Wine a Windows build's tests run under: its loader (PORTSIFT_WINE, the
32-bit or the 64-bit one) and the test's own prefix (WINEPREFIX), with one
persistent wineserver for the whole table.

Run as `wine.py start|stop` it sets the prefix up or takes it down; as
`wine.py why-not` it prints why the loader cannot run here, or nothing. Every
Wine test first asks `require_loader`, which ends the test as skipped where
this machine cannot run the loader at all: it is not installed, or a kernel
built without 32-bit support refuses the 32-bit loader with "Exec format
error"."""
import ctypes
import errno
import os
import subprocess
import sys

SKIPPED = 77  # the tests' SKIP_RETURN_CODE
QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def loader():
    return os.environ["PORTSIFT_WINE"]


# Wine 8 now and then fails to start a program ("failed to map the shared
# user data: c0000018", then start.exe's "ShellExecuteEx failed") when the
# kernel's address randomization has put a mapping where Wine's shared user
# data must go: about one start in 600 here. So the tests run Wine without
# it, as `setarch -R` does; every process started from here inherits that.
ADDR_NO_RANDOMIZE = 0x0040000
QUERY_PERSONALITY = 0xFFFFFFFF


def fixed_addresses():
    libc = ctypes.CDLL(None, use_errno=True)
    libc.personality.argtypes = [ctypes.c_ulong]
    if libc.personality(libc.personality(QUERY_PERSONALITY) | ADDR_NO_RANDOMIZE) == -1:
        raise OSError(ctypes.get_errno(), "personality(ADDR_NO_RANDOMIZE)")


def unable_reason():
    """Why the loader cannot run here, or None when it can. Decided by
    running it, not by its name."""
    if not os.path.exists(loader()):
        package = "wine32:i386" if os.path.basename(loader()) == "wine" else "wine64"
        return f"{loader()} is not installed (Debian's {package})"
    try:
        subprocess.run([loader(), "--version"], check=False, **QUIET)
    except OSError as error:
        if error.errno != errno.ENOEXEC:
            raise
        return f"this kernel cannot run {loader()} ({error.strerror}); it runs no 32-bit programs"
    return None


def require_loader():
    """Returns when the loader runs here; otherwise says why and ends the
    test with the skip status."""
    fixed_addresses()
    reason = unable_reason()
    if reason:
        print(f"skipped: {reason}")
        sys.exit(SKIPPED)


def env(**extra):
    """The environment of a Wine run: no debug output, no Mono or Gecko
    installer at prefix creation."""
    return {**os.environ, "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=", **extra}


def stop_server(environment=None):
    """Stops the prefix's wineserver, which writes the registry out, and
    waits for it."""
    subprocess.run(["wineserver", "--kill"], env=environment or env(), check=False, **QUIET)
    subprocess.run(["wineserver", "--wait"], env=environment or env(), check=False, **QUIET)


def start():
    prefix = os.environ["WINEPREFIX"]
    os.makedirs(prefix, exist_ok=True)
    # Wine's background processes outlive this script: they must not hold
    # its output open, or the test runner waits for them.
    # wineboot's status is not ours to judge: a 64-bit prefix on a kernel
    # without 32-bit support sets up all but its 32-bit half. The query
    # below tells whether the prefix serves.
    if not os.path.exists(os.path.join(prefix, "system.reg")):
        subprocess.run([loader(), "wineboot", "--init"], env=env(), check=False, **QUIET)
    # A server still running (from the set-up above, or an earlier run) is
    # replaced by one that stays up between the runs.
    stop_server()
    subprocess.run(["wineserver", "--persistent"], env=env(), check=True, **QUIET)
    # Wait until the prefix answers, so the first row pays no start-up cost.
    subprocess.run([loader(), "reg", "query", r"HKLM\Software"], env=env(), check=True, **QUIET)


def main():
    if sys.argv[1] == "why-not":
        print(unable_reason() or "")
        return 0
    require_loader()
    if sys.argv[1] == "start":
        start()
    else:
        stop_server()
    return 0


if __name__ == "__main__":
    sys.exit(main())
