# Debian package installation shared by the install scripts and the
# benchmark: sourced, not run. A package index that cannot be fetched (a
# mirror in mid-sync) is a warning and the install goes on from the lists
# there are; a package that cannot be installed is named with apt's reason
# and does not stop the others.

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
APT_WHO=$(basename "$0")

# Prints those of the packages given that are not installed.
apt_missing() {
    for pkg in "$@"; do
        status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null) || status=
        [ "$status" = "install ok installed" ] || echo "$pkg"
    done
}

# apt-get update; each index it could not fetch is named in a warning.
apt_update() {
    log=$(mktemp)
    if ! $SUDO apt-get update -q >"$log" 2>&1; then
        awk -v who="$APT_WHO" '
            /^Err:/ { sub(/^Err:[0-9]+ /, ""); index_name = $0; next }
            index_name != "" { sub(/^ +/, ""); printf "%s: warning: package index not fetched, going on without it: %s (%s)\n", who, index_name, $0; index_name = "" }
            /^[EW]: / && !/Failed to fetch|Some index files failed/ { printf "%s: warning: %s\n", who, $0 }
        ' "$log" >&2
    fi
    rm -f "$log"
}

# Installs the packages given, all at once when apt can; otherwise one at a
# time, naming each that cannot be installed with apt's reason. Status 1 when
# any could not be installed.
apt_install() {
    echo "$APT_WHO: installing $*" >&2
    log=$(mktemp)
    if DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "$@" >"$log" 2>&1; then
        rm -f "$log"
        return 0
    fi
    failed=0
    for pkg in "$@"; do
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "$pkg" >"$log" 2>&1 && continue
        failed=1
        echo "$APT_WHO: could not install $pkg:" >&2
        { grep '^E: ' "$log"; grep -E '^ [^ ].* : ' "$log" | head -n 4; } | sed 's/^ */    /' >&2
    done
    rm -f "$log"
    return $failed
}
