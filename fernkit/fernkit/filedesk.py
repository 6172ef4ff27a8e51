"""Finding data files by extension and naming the folders that results go to."""
from __future__ import annotations

import datetime
import os
import re
from collections.abc import Iterable
from typing import List, Tuple, Union

__all__ = ["find_files_with_extensions", "generate_output_path", "date_code"]

PathLike = Union[str, "os.PathLike[str]"]

# An 8-digit date, optionally followed by "_HHMMSS", not part of a longer run of digits.
_DATE_CODE = re.compile(r"(?<!\d)(\d{8})(?:_(\d{6}))?(?!\d)")


def _path_text(path: object, what: str) -> str:
    try:
        text = os.fspath(path)  # type: ignore[call-overload]
    except TypeError:
        raise TypeError(f"{what} must be a str or a path object, not {type(path).__name__}") from None
    if not isinstance(text, str):
        raise TypeError(f"{what} must be a str or a path object, not {type(text).__name__}")
    if not text:
        raise ValueError(f"{what} is empty")
    return text


def _filter_list(filters: object) -> List[str]:
    # A lone string is one filter, not a sequence of one-letter filters.
    if isinstance(filters, str):
        return [filters]
    if not isinstance(filters, Iterable):
        raise TypeError(f"filters must be a list of str, not {type(filters).__name__}")
    checked = []
    for f in filters:
        if not isinstance(f, str):
            raise TypeError(f"each filter must be a str, got {type(f).__name__}: {f!r}")
        checked.append(f)
    if not checked:
        raise ValueError("filters is empty; use [''] to select every file")
    return checked


def date_code(name: str) -> Tuple[str, str] | None:
    """The first valid date code in a file name, as ("YYYYMMDD", "HHMMSS").

    The time is "000000" when the date has none. Runs of eight digits that are not
    a calendar date are skipped. None when the name holds no date code.
    """
    for m in _DATE_CODE.finditer(name):
        day, time = m.group(1), m.group(2)
        try:
            datetime.date(int(day[:4]), int(day[4:6]), int(day[6:]))
        except ValueError:
            continue
        if time is None or not (int(time[:2]) < 24 and int(time[2:4]) < 60 and int(time[4:]) < 60):
            time = "000000"
        return day, time
    return None


def _matches(name: str, lowered_filters: List[str]) -> bool:
    folded = name.casefold()
    return any(folded.endswith(f) for f in lowered_filters)


def _by_name(name: str) -> Tuple[str, str]:
    return (name.casefold(), name)


def _by_date_code(name: str) -> Tuple[int, str, str, str, str]:
    code = date_code(name)
    if code is None:
        return (1, "", "", *_by_name(name))
    return (0, *code, *_by_name(name))


def find_files_with_extensions(
    path: PathLike, filters: Iterable[str], sort_datecode: bool = False
) -> Tuple[List[str], List[str]]:
    """Files of a folder (not its subfolders), or the single file named, that match the filters.

    A file matches when its name ends with one of `filters`, ignoring case; the empty
    filter "" matches every file. Returns (paths, base_names): the full paths as text
    and the file names, in the same order. The order is by name, or with a true
    `sort_datecode` by the first date code (YYYYMMDD, optionally _HHMMSS) in the name,
    files without one last and by name.
    """
    text = _path_text(path, "path")
    lowered = [f.casefold() for f in _filter_list(filters)]

    if os.path.isdir(text):
        with os.scandir(text) as entries:
            names = [e.name for e in entries if e.is_file() and _matches(e.name, lowered)]
        paths_of = {n: os.path.join(text, n) for n in names}
    elif os.path.isfile(text):
        name = os.path.basename(text)
        names = [name] if _matches(name, lowered) else []
        paths_of = {name: text}
    else:
        raise FileNotFoundError(f"No such folder or file: {text!r}")

    names.sort(key=_by_date_code if sort_datecode else _by_name)
    return [paths_of[n] for n in names], names


def generate_output_path(folder: PathLike, out_dir_name: str) -> str:
    """The path of the folder `out_dir_name` inside `folder`, as text. Nothing is created.

    `out_dir_name` must be a relative name that stays inside `folder` (it may hold
    subfolders, but no ".." part).
    """
    folder_text = _path_text(folder, "folder")
    if not isinstance(out_dir_name, str):
        raise TypeError(f"out_dir_name must be a str, not {type(out_dir_name).__name__}")
    if not out_dir_name.strip():
        raise ValueError("out_dir_name is empty")
    if os.path.isabs(out_dir_name) or os.path.splitdrive(out_dir_name)[0]:
        raise ValueError(f"out_dir_name must be relative to the folder, got {out_dir_name!r}")
    parts = re.split(r"[\\/]", out_dir_name)
    if ".." in parts:
        raise ValueError(f"out_dir_name must stay inside the folder, got {out_dir_name!r}")
    return os.path.join(folder_text, out_dir_name)
