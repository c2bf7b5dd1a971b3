#!/bin/sh
# The benchmark, from a fresh machine: installs what it needs, builds the
# Linux and Windows programs, generates its inputs and prints one table.
set -eu
cd "$(dirname "$0")/.."
SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
if [ "${PORTSIFT_SKIP_INSTALL:-}" != 1 ]; then
    scripts/install-test-deps
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q hyperfine python3-serial util-linux libserialport-dev
fi
cmake --preset native >/dev/null && cmake --build --preset native -j "$(nproc)" >/dev/null
cmake --preset win32 >/dev/null && cmake --build --preset win32 -j "$(nproc)" --target portsift bench_noop >/dev/null
# The sysfs floor and the libserialport peer, built as plain C programs: the
# floor linked as the package is (dynamically, PIE), and statically beside it.
mkdir -p build/bench
cc -O2 -Wall -Wextra -o build/bench/floor bench/floor.c
cc -O2 -Wall -Wextra -static -o build/bench/floor-static bench/floor.c
cc -O2 -Wall -Wextra -o build/bench/libserialport bench/libserialport.c -lserialport
exec /usr/bin/python3 bench/run.py "$@"
