#!/bin/sh
# The Windows program is a 32-bit console PE that imports only system
# libraries and carries its version resource.
set -eu
exe=$1
dump=$(i686-w64-mingw32-objdump -p "$exe")
fail() { echo "$exe: $*" >&2; exit 1; }
echo "$dump" | grep -q '^Magic[[:space:]]*010b' || fail "not a PE32 (32-bit) image"
echo "$dump" | grep -q '^Subsystem[[:space:]]*00000003' || fail "not a console program"
imports=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u | tr '\n' ' ')
[ "$imports" = "ADVAPI32.DLL KERNEL32.DLL MSVCRT.DLL " ] || fail "imports $imports"
# The version strings are stored as UTF-16 in the resource section.
for text in portsift 1.0 "Lists USB serial ports"; do
    LC_ALL=C grep -qaP "$(printf '%s' "$text" | sed 's/./&\\x00/g')" "$exe" ||
        fail "no \"$text\" in its version resource"
done
echo "$exe: PE32 console program; imports $imports"
