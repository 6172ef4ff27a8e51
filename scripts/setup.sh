#!/usr/bin/env bash
# Prepares a virtual environment with larkui and everything it needs, on a fresh machine.
# Usage: scripts/setup.sh VERSION   (VERSION is 3.12 or 3.11); prints the venv's python path last.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
version=${1:-3.12}
venv="$root/.venv-$version"

find_python() {
    local candidate
    for candidate in "$HOME"/.pyenv/versions/"$version".*/bin/python"$version" \
                     "$(command -v "python$version" 2>/dev/null || true)"; do
        if [ -x "$candidate" ]; then echo "$candidate"; return 0; fi
    done
    return 1
}

python=$(find_python) || { echo "Python $version not found (pyenv or python$version on PATH)" >&2; exit 1; }

if [ ! -x "$venv/bin/python" ]; then
    "$python" -m venv "$venv" >&2
fi
pip=("$venv/bin/python" -m pip --disable-pip-version-check -q)
"${pip[@]}" install --upgrade pip >&2
# PySide6 6.12 drops a reference to None on every void Qt call under Python 3.11 (the
# interpreter aborts after a few thousand calls); 3.11 keeps to the 6.11 series.
qt=("PySide6-Essentials>=6.5" "PySide6-Addons>=6.5")
[ "$version" = 3.11 ] && qt=("PySide6-Essentials>=6.5,<6.12" "PySide6-Addons>=6.5,<6.12")
"${pip[@]}" install "${qt[@]}" "numpy>=1.24" "pytest>=7" "mypy>=1.8" "hypothesis>=6" >&2

# PySide6's offscreen platform needs a few system libraries; install them when missing.
qt_works() {
    QT_QPA_PLATFORM=offscreen "$venv/bin/python" -c \
        "import PySide6.QtCharts; from PySide6.QtWidgets import QApplication; QApplication([])" >/dev/null 2>&1
}
if ! qt_works; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
        echo "Installing the system libraries Qt needs..." >&2
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq >&2
        apt-get install -y -qq --no-install-recommends libegl1 libgl1 libopengl0 libglib2.0-0 libfontconfig1 \
            libfreetype6 libdbus-1-3 libxkbcommon0 libxkbcommon-x11-0 libx11-xcb1 libxcb-cursor0 \
            libxcb-icccm4 libxcb-keysyms1 libxcb-shape0 libxrender1 libxi6 libsm6 libice6 fonts-dejavu-core >&2
    fi
    qt_works || { echo "PySide6 cannot start a QApplication on the offscreen platform" >&2; exit 1; }
fi

# The outside utility library, then larkui itself (built from the sources).
"${pip[@]}" install "$root/fernkit" >&2
"${pip[@]}" install --force-reinstall --no-deps "$root" >&2
echo "$venv/bin/python"
