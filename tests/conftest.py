import os
import sys

# Headless Qt for every test; set before PySide6 is imported anywhere.
os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")

import pytest  # noqa: E402

sys.path.insert(0, os.path.dirname(__file__))


@pytest.fixture(scope="session", autouse=True)
def qapp():
    from PySide6.QtWidgets import QApplication

    app = QApplication.instance() or QApplication([])
    yield app


@pytest.fixture(scope="session")
def hooks_dir():
    from support import hook_modules_dir

    return hook_modules_dir()


@pytest.fixture(scope="session")
def hooks(hooks_dir):
    """The test-only module larkui._hooks, built on the same runtime layer as larkui."""
    import importlib

    import larkui

    if str(hooks_dir) not in larkui.__path__:
        larkui.__path__.append(str(hooks_dir))
    return importlib.import_module("larkui._hooks")
