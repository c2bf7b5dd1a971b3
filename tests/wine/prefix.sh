#!/bin/sh
# Starts or stops the Wine prefix the Windows program is tested in: a prefix
# of the tests' own, with one persistent wineserver for the whole table.
set -eu
action=$1
export WINEPREFIX=$2 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case $action in
start)
    mkdir -p "$WINEPREFIX"
    # Wine's background processes outlive this script: they must not hold
    # its output open, or the test runner waits for them.
    [ -f "$WINEPREFIX/system.reg" ] || wineboot --init </dev/null >/dev/null 2>&1
    # A server still running (from the set-up above, or an earlier run) is
    # replaced by one that stays up between the runs.
    wineserver --kill </dev/null >/dev/null 2>&1 || true
    wineserver --wait </dev/null >/dev/null 2>&1 || true
    wineserver --persistent </dev/null >/dev/null 2>&1
    # Wait until the prefix answers, so the first row pays no start-up cost.
    wine reg query 'HKLM\Software' </dev/null >/dev/null 2>&1
    ;;
stop)
    wineserver --kill </dev/null >/dev/null 2>&1
    ;;
esac
