#!/usr/bin/env bash
# Prepares a virtual environment with larkui and everything it needs, on a fresh machine.
# Usage: scripts/setup.sh VERSION   (VERSION is 3.12, 3.11 or 3.13); prints the venv's python path on
# its last line and sends everything else to stderr. Running it again only rebuilds what changed.
set -euo pipefail
exec 3>&1 1>&2  # stdout carries the result alone; every other message goes to stderr
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/common.sh"
version=${1:-3.12}
case $version in
    3.11|3.12|3.13) ;;
    *) echo "setup.sh: unsupported Python version '$version' (3.11, 3.12 or 3.13)"; exit 2 ;;
esac
venv="$root/.venv-$version"

python=$(find_python "$version") || { echo "Python $version not found (pyenv or python$version on PATH)"; exit 1; }

if [ ! -x "$venv/bin/python" ]; then
    "$python" -m venv "$venv"
fi
py="$venv/bin/python"
pip=("$py" -m pip --disable-pip-version-check -q)

# The requirements from PyPI, once per venv and whenever this script changes them.
# PySide6 6.12 drops a reference to None on every void Qt call under Python 3.11 (the
# interpreter aborts after a few thousand calls); 3.11 keeps to the 6.11 series.
qt=("PySide6-Essentials>=6.5" "PySide6-Addons>=6.5")
[ "$version" = 3.11 ] && qt=("PySide6-Essentials>=6.5,<6.12" "PySide6-Addons>=6.5,<6.12")
requirements=("${qt[@]}" "numpy>=1.24" "pytest>=7" "mypy>=1.8" "hypothesis>=6")
requirements_stamp="$venv/.larkui-requirements"
if [ "$(cat "$requirements_stamp" 2>/dev/null)" != "${requirements[*]}" ]; then
    "${pip[@]}" install --upgrade pip
    "${pip[@]}" install "${requirements[@]}"
    echo "${requirements[*]}" >"$requirements_stamp"
fi

# PySide6's offscreen platform needs a few system libraries; install them when missing.
qt_works() {
    QT_QPA_PLATFORM=offscreen "$py" -c \
        "import PySide6.QtCharts; from PySide6.QtWidgets import QApplication; QApplication([])" >/dev/null 2>&1
}
if ! qt_works; then
    echo "Installing the system libraries Qt needs..."
    apt_install libegl1 libgl1 libopengl0 libglib2.0-0 libfontconfig1 \
        libfreetype6 libdbus-1-3 libxkbcommon0 libxkbcommon-x11-0 libx11-xcb1 libxcb-cursor0 \
        libxcb-icccm4 libxcb-keysyms1 libxcb-shape0 libxrender1 libxi6 libsm6 libice6 fonts-dejavu-core || true
    qt_works || { echo "PySide6 cannot start a QApplication on the offscreen platform"; exit 1; }
fi

# With a display, windows go through Qt's xcb plugin, which links many more X libraries than the
# offscreen one; Qt then only says it "could not load the Qt platform plugin xcb".
xcb_missing() {  # the shared libraries the xcb plugin cannot find, one a line
    local qt_dir
    qt_dir=$("$py" -c "import os, PySide6; print(os.path.join(os.path.dirname(PySide6.__file__), 'Qt'))")
    { ldd "$qt_dir"/plugins/platforms/libqxcb.so "$qt_dir"/lib/libQt6XcbQpa.so.6 \
          "$qt_dir"/plugins/xcbglintegrations/*.so 2>/dev/null || true; } | awk '/not found/ {print $1}' | sort -u
}
if [ -n "${DISPLAY:-}" ]; then
    missing=$(xcb_missing)
    if [ -n "$missing" ]; then
        echo "Qt's xcb platform plugin lacks $(echo $missing); installing the X libraries it needs..."
        apt_install libx11-6 libx11-xcb1 libxcb1 libxcb-cursor0 libxcb-glx0 libxcb-icccm4 libxcb-image0 \
            libxcb-keysyms1 libxcb-randr0 libxcb-render0 libxcb-render-util0 libxcb-shape0 libxcb-shm0 \
            libxcb-sync1 libxcb-util1 libxcb-xfixes0 libxcb-xkb1 libxkbcommon0 libxkbcommon-x11-0 \
            libegl1 libgl1 libglib2.0-0 libfontconfig1 fonts-dejavu-core || true
        missing=$(xcb_missing)
        [ -z "$missing" ] || { echo "Qt's xcb platform plugin still lacks $(echo $missing)"; exit 1; }
    fi
fi

# The outside utility library, then larkui itself, built from the sources; each is rebuilt only when
# its files (or the interpreter) changed since the last install.
fingerprint() {
    (cd "$root" && find "$@" -type f ! -name '*.pyc' ! -path '*/__pycache__/*' ! -path '*.egg-info/*' \
        ! -path '*/build/*' -print0 | sort -z | xargs -0 sha256sum; "$py" -VV) | sha256sum
}
install_from_source() {  # STAMP_NAME PATH PIP_ARGS... -- FILES...
    local stamp="$venv/.larkui-$1" path=$2 args=() files=() print
    shift 2
    while [ "$1" != -- ]; do args+=("$1"); shift; done
    shift
    files=("$@")
    print=$(fingerprint "${files[@]}")
    if [ "$(cat "$stamp" 2>/dev/null)" != "$print" ]; then
        rm -f "$stamp"
        "${pip[@]}" install "${args[@]}" "$path"
        echo "$print" >"$stamp"
    fi
}
install_from_source fernkit "$root/fernkit" --force-reinstall --no-deps -- fernkit/pyproject.toml fernkit/fernkit
install_from_source larkui "$root" --force-reinstall --no-deps -- CMakeLists.txt pyproject.toml src
echo "$py" >&3
