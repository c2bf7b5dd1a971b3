#!/bin/sh
# The benchmark, from a fresh machine: installs what it needs, builds the
# Linux and Windows programs, generates its inputs and prints one table.
# An install that fails in part goes on with what there is; a section that
# cannot run says why, and the others still run.
set -eu
cd "$(dirname "$0")/.."
. scripts/lib/apt.sh
if [ "${PORTSIFT_SKIP_INSTALL:-}" != 1 ]; then
    scripts/install-test-deps || echo "bench: going on with what is installed" >&2
    missing=$(apt_missing hyperfine python3-serial util-linux libserialport-dev)
    if [ -n "$missing" ]; then
        apt_update
        # shellcheck disable=SC2086
        apt_install $missing || echo "bench: going on with what is installed" >&2
    fi
fi
cmake --preset native >/dev/null && cmake --build --preset native -j "$(nproc)" >/dev/null
if ! { cmake --preset win32 >/dev/null && cmake --build --preset win32 -j "$(nproc)" --target portsift bench_noop >/dev/null; }; then
    echo "bench: the 32-bit Windows program did not build; its section is skipped" >&2
fi
# The sysfs floor and the libserialport peer, built as plain C programs: the
# floor linked as the package is (dynamically, PIE), and statically beside it.
mkdir -p build/bench
cc -O2 -Wall -Wextra -o build/bench/floor bench/floor.c
cc -O2 -Wall -Wextra -static -o build/bench/floor-static bench/floor.c
cc -O2 -Wall -Wextra -o build/bench/libserialport bench/libserialport.c -lserialport ||
    echo "bench: the libserialport peer did not build (libserialport-dev); the sysfs section will say so" >&2
exec /usr/bin/python3 bench/run.py "$@"
