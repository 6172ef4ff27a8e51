"""Chart, chooser and widget-lookup helpers for PySide6 measurement-display windows.

The helpers live in the compiled submodules ``larkui.plotdeck``, ``larkui.choosers``,
``larkui.finders`` and ``larkui.streaming`` (a rolling window for fast scrolling charts).
Importing the package itself imports nothing: reading the installed metadata costs tens of
milliseconds, so ``__version__`` is looked up on first use.
"""


def _installed_version() -> str:
    """The version recorded by the installer, when that record belongs to this very copy.

    A development build put in front through PYTHONPATH may shadow an installed larkui whose
    record tells another version, or there may be no record at all: such a copy reports
    "0+unknown", a valid version that sorts before every release.
    """
    import json
    from importlib import metadata
    from pathlib import Path

    try:
        dist = metadata.distribution("larkui")
    except metadata.PackageNotFoundError:
        return "0+unknown"
    if Path(str(dist.locate_file("larkui/__init__.py"))).resolve() == Path(__file__).resolve():
        return dist.version
    # An editable install runs the sources, away from where its record lies.
    try:
        direct_url = json.loads(dist.read_text("direct_url.json") or "{}")
        editable = direct_url.get("dir_info", {}).get("editable") is True
    except (ValueError, AttributeError):
        editable = False
    return dist.version if editable else "0+unknown"


def __getattr__(name: str) -> str:
    if name == "__version__":
        global __version__
        __version__ = _installed_version()
        return __version__
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def __dir__() -> list[str]:
    return sorted({*globals(), "__version__"})
