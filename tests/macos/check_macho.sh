#!/bin/sh
# Checks a macOS program built here: that it is built for ARCHS (as lipo
# lists them) and loads nothing but IOKit, CoreFoundation and the system's
# library.
# Usage: check_macho.sh PROGRAM "ARCHS" LIPO OBJDUMP
set -eu
program=$1 archs=$2 lipo=$3 objdump=$4
got=$("$lipo" -archs "$program" | xargs)
if [ "$got" != "$archs" ]; then
    echo "$program is built for '$got', not '$archs'" >&2
    exit 1
fi
loads=$("$objdump" --macho --dylibs-used "$program" | sed -n 's/^[[:space:]]*\(\/[^ ]*\) (.*/\1/p' | sort -u)
for lib in $loads; do
    case "$lib" in
    /usr/lib/libSystem.B.dylib | /System/Library/Frameworks/IOKit.framework/Versions/A/IOKit | \
        /System/Library/Frameworks/CoreFoundation.framework/Versions/A/CoreFoundation) ;;
    *) echo "$program loads $lib" >&2; exit 1 ;;
    esac
done
[ -n "$loads" ] || { echo "$program loads no library: not a Mach-O program?" >&2; exit 1; }
