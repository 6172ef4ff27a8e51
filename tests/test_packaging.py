"""What the package metadata and the wheel-building configuration claim, held against the tree."""
import os
import tomllib
from pathlib import Path

ROOT = Path(os.environ.get("LARKUI_SOURCE_DIR") or Path(__file__).resolve().parents[1])
PYPROJECT = tomllib.loads((ROOT / "pyproject.toml").read_text(encoding="utf-8"))


def test_every_test_source_exists_and_the_suite_is_among_them():
    sources = PYPROJECT["tool"]["cibuildwheel"]["test-sources"]
    missing = [path for path in sources if not (ROOT / path).exists()]
    assert missing == []
    assert {"tests", "fernkit/tests"} <= set(sources)


def test_the_wheel_check_copies_exactly_the_test_sources():
    script = (ROOT / "scripts" / "check-wheel.sh").read_text(encoding="utf-8")
    assert '["tool"]["cibuildwheel"]["test-sources"]' in script
    assert "cp -r \"$root/tests\"" not in script  # no list of its own beside the configuration


def test_classifiers_claim_only_what_builds_here():
    classifiers = PYPROJECT["project"]["classifiers"]
    systems = [c for c in classifiers if c.startswith("Operating System ::")]
    assert systems == ["Operating System :: POSIX :: Linux"]
    assert not [c for c in classifiers if "Windows" in c or "MacOS" in c]
    assert set(PYPROJECT["tool"]["cibuildwheel"]) <= {"build", "skip", "build-frontend", "test-extras", "test-sources",
                                                      "test-command", "environment", "test-environment", "linux"}
