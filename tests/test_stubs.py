"""The type stubs: they match the compiled modules, and an application type-checks against them."""
import os
import re
import site
import subprocess
import sys
from pathlib import Path

import pytest

MODULES = ["larkui.plotdeck", "larkui.choosers", "larkui.finders", "larkui.streaming", "larkui.graphs"]
STUB_FILES = ["plotdeck.pyi", "choosers.pyi", "finders.pyi", "streaming.pyi", "graphs.pyi", "py.typed"]
DATA = Path(__file__).resolve().parent / "data"


@pytest.fixture(scope="module")
def package_dir():
    """The folder of the larkui package being tested, whose stubs must lie next to its modules."""
    import larkui

    pkg = Path(larkui.__file__).resolve().parent
    missing = [name for name in STUB_FILES if not (pkg / name).exists()]
    assert not missing, f"larkui is imported from {pkg}, which has no {', '.join(missing)} next to its modules"
    return pkg


def start_mypy(module_args, pkg, cwd):
    """Starts a mypy entry point in a clean folder, finding larkui where this interpreter finds it."""
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    parent = str(pkg.parent)
    env["PYTHONPATH"] = os.pathsep.join(p for p in (parent, env.get("PYTHONPATH")) if p)
    site_dirs = {str(Path(p).resolve()) for p in site.getsitepackages() + [site.getusersitepackages()]}
    if str(Path(parent).resolve()) not in site_dirs:
        env["MYPYPATH"] = parent  # mypy reads installed packages from site-packages only
    return subprocess.Popen([sys.executable, "-m", *module_args], cwd=cwd, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True)


@pytest.fixture(scope="module")
def mypy_runs(package_dir, tmp_path_factory):
    """stubtest, and mypy --strict over the example files, run side by side (each takes seconds)."""
    tmp = tmp_path_factory.mktemp("mypy")
    procs = {
        "stubtest": start_mypy(["mypy.stubtest", *MODULES], package_dir, tmp),
        "mypy": start_mypy(["mypy", "--strict", "--no-error-summary", "--cache-dir", str(tmp / "cache"),
                            str(DATA / "example_app.py"), str(DATA / "example_misuse.py")], package_dir, tmp),
    }
    results = {}
    try:
        for name, proc in procs.items():
            output, _ = proc.communicate(timeout=600)
            results[name] = (proc.returncode, output)
    finally:
        for proc in procs.values():
            if proc.poll() is None:
                proc.kill()
    return results


def test_stubtest_finds_no_mismatch(mypy_runs):
    returncode, output = mypy_runs["stubtest"]
    assert returncode == 0, output


@pytest.fixture(scope="module")
def mypy_errors(mypy_runs):
    """The error lines of the mypy run, by file name."""
    _, output = mypy_runs["mypy"]
    assert "Cannot find implementation or library stub" not in output, output
    errors = {}
    for m in re.finditer(r"^(?:.*[/\\])?(\w+)\.py:(\d+): error: (.*)$", output, re.M):
        errors.setdefault(m.group(1), {})[int(m.group(2))] = m.group(3)
    return errors, output


def test_example_application_type_checks(mypy_errors):
    errors, output = mypy_errors
    assert "example_app" not in errors, output


def test_stubs_refuse_misuse(mypy_errors):
    """Each call marked `# refused` is a type error, and nothing else is: the stubs are not Any."""
    errors, output = mypy_errors
    source = (DATA / "example_misuse.py").read_text(encoding="utf-8").splitlines()
    expected = {n for n, line in enumerate(source, 1) if line.rstrip().endswith("# refused")}
    assert set(errors.get("example_misuse", {})) == expected, output
