# Shared by the set-up, test and wheel scripts; sourced, not run.

# A CPython of VERSION (3.11, 3.12, 3.13), from pyenv or PATH.
find_python() {
    local version=$1 candidate
    for candidate in "$HOME"/.pyenv/versions/"$version".*/bin/python"$version" \
                     "$(command -v "python$version" 2>/dev/null || true)"; do
        if [ -x "$candidate" ]; then echo "$candidate"; return 0; fi
    done
    return 1
}

# Debian packages, when we may install them (root with apt-get); the package index is refreshed
# once per script. What apt prints is shown only when it fails.
apt_install() {
    [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null || return 1
    export DEBIAN_FRONTEND=noninteractive
    local apt=(apt-get -qq -o DPkg::Lock::Timeout=300) log
    echo "Installing $*..." >&2
    log=$(mktemp)
    if { [ -n "${apt_updated:-}" ] || "${apt[@]}" update; } >"$log" 2>&1 &&
       "${apt[@]}" install -y --no-install-recommends --no-upgrade "$@" >>"$log" 2>&1; then
        apt_updated=1
        rm -f "$log"
    else
        cat "$log" >&2
        rm -f "$log"
        return 1
    fi
}
