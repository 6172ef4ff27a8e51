#!/usr/bin/env bash
# Builds what a package index takes for larkui: the source distribution and, from that sdist,
# a manylinux wheel for each CPython asked for (default: each of 3.11, 3.12 and 3.13 found),
# all checked with twine; then installs each wheel into a fresh venv and runs the test suite
# against it (scripts/check-wheel.sh). The results land in dist/.
# Usage: scripts/wheels.sh [--no-check] [VERSION...]
set -euo pipefail
source "$(dirname "$0")/wheel-common.sh"
started=$SECONDS

check=1
if [ "${1:-}" = --no-check ]; then check=0; shift; fi
versions=("$@")
if [ ${#versions[@]} = 0 ]; then
    for v in 3.11 3.12 3.13; do
        if find_python "$v" >/dev/null; then versions+=("$v"); fi
    done
fi
[ ${#versions[@]} -gt 0 ] || { say "no CPython 3.11, 3.12 or 3.13 found"; exit 1; }

step "packaging tools" ensure_tools
py="$tools/bin/python"
version=$("$py" -c 'import tomllib, sys; print(tomllib.load(open(sys.argv[1], "rb"))["project"]["version"])' \
    "$root/pyproject.toml")
mkdir -p "$dist" "$work"

# The sdist comes first: every wheel is built from it, which shows that it holds what a build needs.
sdist="$dist/larkui-$version.tar.gz"
rm -f "$sdist"
step "sdist" "$py" -m build --sdist --outdir "$dist" "$root" >/dev/null
"$py" - "$sdist" <<'EOF'
import sys, tarfile
path = sys.argv[1]
with tarfile.open(path) as tf:
    names = [m.name.split("/", 1)[1] for m in tf.getmembers() if m.isfile()]
needed = ["CMakeLists.txt", "pyproject.toml", "README.md", "LICENSE", "CHANGELOG.md", "PKG-INFO",
          "src/larkui/__init__.py", "src/larkui/py.typed", "fernkit/pyproject.toml"]
missing = [n for n in needed if n not in names]
missing += [d for d in ("src/runtime/", "src/plotdeck/", "src/choosers/", "src/finders/")
            if not any(n.startswith(d) and n.endswith(".cpp") for n in names)]
def stray(name):
    *folders, file = name.split("/")
    return (any(f in ("build", "dist", ".ci", ".git", "screenshots", "__pycache__") or f.startswith(".venv")
                or f.endswith(".egg-info") for f in folders) or file.endswith((".so", ".pyd", ".o", ".pyc")))
stray = [n for n in names if stray(n)]
if missing or stray:
    sys.exit(f"{path}: missing {missing}, stray {stray}")
print(f"[sdist] {len(names)} files, none stray; holds {', '.join(needed[:5])}, src/, tests/", file=sys.stderr)
EOF

wheels=()
for v in "${versions[@]}"; do
    abi="cp${v/./}"
    make_venv "$work/build-$v" "$v"
    raw="$work/raw-$v"
    rm -rf "$raw"
    step "wheel for $v" "$work/build-$v/bin/python" -m pip "${pip_flags[@]}" wheel --no-deps -w "$raw" "$sdist"
    rm -f "$dist/larkui-$version-$abi-$abi-"*.whl
    # auditwheel picks the oldest manylinux policy the modules' symbol versions allow.
    step "repair for $v" env PATH="$tools/bin:$PATH" auditwheel repair -w "$dist" "$raw"/larkui-*.whl
    wheels+=("$(ls "$dist/larkui-$version-$abi-$abi-"*manylinux*.whl)")
done

step "twine check" "$tools/bin/twine" check --strict "$sdist" "${wheels[@]}"
say "built:"
echo "${sdist##*/}"
wheel_tags "$py" "${wheels[@]}"

failed=()
if [ $check = 1 ]; then
    for i in "${!versions[@]}"; do
        step "installed-wheel suite on ${versions[$i]}" bash "$root/scripts/check-wheel.sh" "${versions[$i]}" \
            "${wheels[$i]}" || failed+=("${versions[$i]}")
    done
fi
say "done in $((SECONDS - started)) s$([ ${#failed[@]} = 0 ] || echo "; the suite failed on ${failed[*]}")"
[ ${#failed[@]} = 0 ]
