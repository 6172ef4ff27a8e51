from pathlib import Path
from typing import Literal, overload

from PySide6.QtWidgets import QLineEdit, QWidget

def _get_start_dir(obj: object | None, attr: str, fallback: Path) -> Path: ...
def _set_last_dir(obj: object | None, attr: str, path: str | Path) -> None: ...
@overload
def pick_folder_path(
    parent: QWidget | None,
    *,
    line_edit: QLineEdit | None = None,
    title: str = "Select Folder",
    last_dir_obj: object | None = None,
    last_dir_attr: str = "_last_dir",
    return_pathlib: Literal[False] = False,
) -> str | None: ...
@overload
def pick_folder_path(
    parent: QWidget | None,
    *,
    line_edit: QLineEdit | None = None,
    title: str = "Select Folder",
    last_dir_obj: object | None = None,
    last_dir_attr: str = "_last_dir",
    return_pathlib: Literal[True],
) -> Path | None: ...
@overload
def pick_folder_path(
    parent: QWidget | None,
    *,
    line_edit: QLineEdit | None = None,
    title: str = "Select Folder",
    last_dir_obj: object | None = None,
    last_dir_attr: str = "_last_dir",
    return_pathlib: object = False,
) -> str | Path | None:
    """Ask for a folder, starting in the remembered one; write it into `line_edit`, remember it, return it.

    Returns None when the user cancels; a `Path` instead of text when `return_pathlib` is true.
    """
@overload
def pick_file_path(
    parent: QWidget | None,
    *,
    line_edit: QLineEdit | None = None,
    title: str = "Select File",
    name_filter: str = "All Files (*)",
    last_dir_obj: object | None = None,
    last_dir_attr: str = "_last_dir",
    return_pathlib: Literal[False] = False,
) -> str | None: ...
@overload
def pick_file_path(
    parent: QWidget | None,
    *,
    line_edit: QLineEdit | None = None,
    title: str = "Select File",
    name_filter: str = "All Files (*)",
    last_dir_obj: object | None = None,
    last_dir_attr: str = "_last_dir",
    return_pathlib: Literal[True],
) -> Path | None: ...
@overload
def pick_file_path(
    parent: QWidget | None,
    *,
    line_edit: QLineEdit | None = None,
    title: str = "Select File",
    name_filter: str = "All Files (*)",
    last_dir_obj: object | None = None,
    last_dir_attr: str = "_last_dir",
    return_pathlib: object = False,
) -> str | Path | None:
    """Ask for one existing file; write it into `line_edit`, remember its folder, return it (None if cancelled)."""
def collect_files_from_lineEdit(
    parent: QWidget | None,
    line_edit: QLineEdit,
    out_dir_name: str,
    name_filter: list[str],
    sort_datecode: object = False,
) -> tuple[list[str], list[str], Path] | None:
    """Collect the matching files under the path in `line_edit`: (paths, base names, output folder).

    Returns None when nothing matched, or after telling the user what went wrong in a message box.
    """
