#!/bin/sh
# The Windows program is a console PE of the expected kind (PE32 for the
# 32-bit build, PE32+ for the 64-bit one) with the Unicode entry point, that
# imports only system libraries and carries its version resource.
set -eu
exe=$1 objdump=$2 magic=$3
dump=$("$objdump" -p "$exe")
fail() { echo "$exe: $*" >&2; exit 1; }
echo "$dump" | grep -q "^Magic[[:space:]]*$magic" || fail "not a PE image of magic $magic"
echo "$dump" | grep -q '^Subsystem[[:space:]]*00000003' || fail "not a console program"
imports=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u | tr '\n' ' ')
[ "$imports" = "ADVAPI32.DLL KERNEL32.DLL MSVCRT.DLL SETUPAPI.DLL " ] || fail "imports $imports"
# The Unicode entry point takes its arguments from the runtime as UTF-16.
echo "$dump" | grep -q '[[:space:]]__wgetmainargs$' || fail "no Unicode entry point (__wgetmainargs)"
# The version strings are stored as UTF-16 in the resource section.
for text in portsift 1.0 "Lists USB serial ports"; do
    LC_ALL=C grep -qaP "$(printf '%s' "$text" | sed 's/./&\\x00/g')" "$exe" ||
        fail "no \"$text\" in its version resource"
done
echo "$exe: magic $magic console program; imports $imports"
