"""Folder and file choosers that remember the last folder, and file collection from a line edit.

`pick_folder_path` and `pick_file_path` open Qt's standard dialogs (modal: they block until
the user closes them, so call them from a button's slot on the GUI thread). Each dialog starts
in the folder chosen last time, writes the choice into a line edit and returns it, as text or
as a `Path`. `collect_files_from_lineEdit` turns the path in a line edit into the list of data
files to process and the folder their results go to, and tells the user about every problem in
a message box instead of raising.

The last-folder memory is not kept by the module: it is an attribute (by default `_last_dir`)
of an object you pass as `last_dir_obj`, typically the window, and it lasts as long as that
object. It always holds a `Path`; you may seed it yourself with a `str` or a `Path`:
`window._last_dir = Path.home() / "data"`. An object that refuses new attributes simply has
no memory. Nothing is written to disk. The private helpers `_get_start_dir` and
`_set_last_dir` read and write it; the first says what counts as a memory.

The functions look up `QFileDialog`, `QMessageBox`, `Path`, `filedesk` (the
`fernkit.filedesk` module, which finds the files and names the output folder) and the two
helpers in this module's namespace at every call, so a test can replace
`larkui.choosers.QFileDialog` with an object whose static methods return a fixed answer.

Arguments annotated `str` or `list` must be exactly of that built-in type: None and instances
of subclasses are refused with TypeError ``Argument 'NAME' has incorrect type (expected TYPE,
got GIVEN)`` before anything happens (a subclass instance also gets a note on the exception).
Arguments annotated `object` in the flags (`return_pathlib`, `sort_datecode`) are taken by
their truth value.
"""

from pathlib import Path
from typing import Literal, overload

from PySide6.QtWidgets import QLineEdit, QWidget

def _get_start_dir(obj: object | None, attr: str, fallback: Path) -> Path:
    """Read the last-folder memory: `Path(obj.<attr>)`, or `fallback` when there is none.

    The remembered value counts when it is a `str` or a `Path` (subclasses too) whose text is
    not empty; a missing attribute, None, a number or an empty string count as no memory. A
    remembered folder that no longer exists is still returned.

    Args:
        obj: the object that holds the memory, or None for no memory (nothing is read).
        attr: the attribute name; must be exactly a `str`.
        fallback: returned, as the identical object, when there is no usable memory.

    Returns:
        A new `Path` of the remembered value, or `fallback`.

    Raises:
        TypeError: ``Argument 'attr' has incorrect type (expected str, got TYPE)``. Any error of
            the `Exception` family while reading the attribute is swallowed (the result is then
            `fallback`); others, such as KeyboardInterrupt, propagate.
    """

def _set_last_dir(obj: object | None, attr: str, path: str | Path) -> None:
    """Store `Path(path)` as the last-folder memory in `obj.<attr>`; silently skipped when that fails.

    Args:
        obj: the object that holds the memory, or None (nothing is stored).
        attr: the attribute name; must be exactly a `str`.
        path: the folder to remember, as text or a path; stored as a `Path`.

    Returns:
        None, also when the object refused the attribute or `path` is not a path (errors of
        the `Exception` family are swallowed and nothing is stored).

    Raises:
        TypeError: ``Argument 'attr' has incorrect type (expected str, got TYPE)``.
    """

@overload
def pick_folder_path(
    parent: QWidget | None,
    *,
    line_edit: QLineEdit | None = None,
    title: str = "Select Folder",
    last_dir_obj: object | None = None,
    last_dir_attr: str = "_last_dir",
    return_pathlib: Literal[False] = False,
) -> str | None:
    """Let the user pick a folder, starting in the remembered one; remember it, show it and return it.

    The dialog is `QFileDialog.getExistingDirectory(parent, title, start)`, where `start` is
    the folder remembered in `last_dir_obj.<last_dir_attr>` (a `str` or `Path` with non-empty
    text, used even if it no longer exists) or else the current working directory, which is
    read on every call, before the memory. When the user cancels, nothing changes and None is
    returned. Otherwise the chosen folder becomes the memory (as a `Path`; skipped silently if
    the object refuses the attribute), then `line_edit.setText(folder)` writes the dialog's
    text, then the folder is returned.

    Args:
        parent: the dialog's parent widget, or None; passed to Qt as it is.
        line_edit: a line edit that receives the chosen folder as text (never a `Path`), or
            None. Only its `setText` is used. Keyword-only, default None.
        title: the dialog's caption; exactly a `str`. Keyword-only, default "Select Folder".
        last_dir_obj: the object whose attribute holds the last-folder memory, or None for no
            memory (the dialog starts in the working directory, nothing is stored).
            Keyword-only, default None.
        last_dir_attr: the name of that attribute; exactly a `str`. A different name keeps a
            separate memory on the same object. Keyword-only, default "_last_dir".
        return_pathlib: any object, taken by its truth value: true returns a `Path`, false the
            dialog's text. Keyword-only, default False.

    Returns:
        None when the user cancelled; otherwise the chosen folder, the dialog's own text, or
        `Path(text)` when `return_pathlib` is true. The stubs type it `str | None` or
        `Path | None` by `return_pathlib`.

    Raises:
        TypeError: ``Argument 'title' has incorrect type (expected str, got TYPE)`` (likewise
            for `last_dir_attr`) before any dialog opens; ``pick_folder_path() takes exactly 1
            positional argument (N given)`` when `line_edit` or `title` is passed positionally.
        FileNotFoundError: from `Path.cwd()` when the working directory no longer exists, even
            with a memory. Errors of the dialog and of `setText` propagate; a memory already
            stored stays.
    """

@overload
def pick_folder_path(
    parent: QWidget | None,
    *,
    line_edit: QLineEdit | None = None,
    title: str = "Select Folder",
    last_dir_obj: object | None = None,
    last_dir_attr: str = "_last_dir",
    return_pathlib: Literal[True],
) -> Path | None:
    """Let the user pick a folder, starting in the remembered one; remember it, show it and return it.

    The dialog is `QFileDialog.getExistingDirectory(parent, title, start)`, where `start` is
    the folder remembered in `last_dir_obj.<last_dir_attr>` (a `str` or `Path` with non-empty
    text, used even if it no longer exists) or else the current working directory, which is
    read on every call, before the memory. When the user cancels, nothing changes and None is
    returned. Otherwise the chosen folder becomes the memory (as a `Path`; skipped silently if
    the object refuses the attribute), then `line_edit.setText(folder)` writes the dialog's
    text, then the folder is returned.

    Args:
        parent: the dialog's parent widget, or None; passed to Qt as it is.
        line_edit: a line edit that receives the chosen folder as text (never a `Path`), or
            None. Only its `setText` is used. Keyword-only, default None.
        title: the dialog's caption; exactly a `str`. Keyword-only, default "Select Folder".
        last_dir_obj: the object whose attribute holds the last-folder memory, or None for no
            memory (the dialog starts in the working directory, nothing is stored).
            Keyword-only, default None.
        last_dir_attr: the name of that attribute; exactly a `str`. A different name keeps a
            separate memory on the same object. Keyword-only, default "_last_dir".
        return_pathlib: any object, taken by its truth value: true returns a `Path`, false the
            dialog's text. Keyword-only, default False.

    Returns:
        None when the user cancelled; otherwise the chosen folder, the dialog's own text, or
        `Path(text)` when `return_pathlib` is true. The stubs type it `str | None` or
        `Path | None` by `return_pathlib`.

    Raises:
        TypeError: ``Argument 'title' has incorrect type (expected str, got TYPE)`` (likewise
            for `last_dir_attr`) before any dialog opens; ``pick_folder_path() takes exactly 1
            positional argument (N given)`` when `line_edit` or `title` is passed positionally.
        FileNotFoundError: from `Path.cwd()` when the working directory no longer exists, even
            with a memory. Errors of the dialog and of `setText` propagate; a memory already
            stored stays.
    """

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
    """Let the user pick a folder, starting in the remembered one; remember it, show it and return it.

    The dialog is `QFileDialog.getExistingDirectory(parent, title, start)`, where `start` is
    the folder remembered in `last_dir_obj.<last_dir_attr>` (a `str` or `Path` with non-empty
    text, used even if it no longer exists) or else the current working directory, which is
    read on every call, before the memory. When the user cancels, nothing changes and None is
    returned. Otherwise the chosen folder becomes the memory (as a `Path`; skipped silently if
    the object refuses the attribute), then `line_edit.setText(folder)` writes the dialog's
    text, then the folder is returned.

    Args:
        parent: the dialog's parent widget, or None; passed to Qt as it is.
        line_edit: a line edit that receives the chosen folder as text (never a `Path`), or
            None. Only its `setText` is used. Keyword-only, default None.
        title: the dialog's caption; exactly a `str`. Keyword-only, default "Select Folder".
        last_dir_obj: the object whose attribute holds the last-folder memory, or None for no
            memory (the dialog starts in the working directory, nothing is stored).
            Keyword-only, default None.
        last_dir_attr: the name of that attribute; exactly a `str`. A different name keeps a
            separate memory on the same object. Keyword-only, default "_last_dir".
        return_pathlib: any object, taken by its truth value: true returns a `Path`, false the
            dialog's text. Keyword-only, default False.

    Returns:
        None when the user cancelled; otherwise the chosen folder, the dialog's own text, or
        `Path(text)` when `return_pathlib` is true. The stubs type it `str | None` or
        `Path | None` by `return_pathlib`.

    Raises:
        TypeError: ``Argument 'title' has incorrect type (expected str, got TYPE)`` (likewise
            for `last_dir_attr`) before any dialog opens; ``pick_folder_path() takes exactly 1
            positional argument (N given)`` when `line_edit` or `title` is passed positionally.
        FileNotFoundError: from `Path.cwd()` when the working directory no longer exists, even
            with a memory. Errors of the dialog and of `setText` propagate; a memory already
            stored stays.
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
) -> str | None:
    """Let the user pick one existing file, starting in the remembered folder; remember its folder, return it.

    The dialog is `QFileDialog.getOpenFileName(parent, title, start, name_filter)`, whose
    result must be a pair (path, selected filter); `start` is the folder remembered in
    `last_dir_obj.<last_dir_attr>` (a `str` or `Path` with non-empty text, used even if it no
    longer exists) or else the current working directory, which is read on every call, before
    the memory. When the user cancels, nothing changes and None is returned. Otherwise the
    folder that holds the file (not the file) becomes the memory, as a `Path` (skipped silently
    if the object refuses the attribute), then `line_edit.setText(file)` writes the dialog's
    text, then the file is returned.

    Args:
        parent: the dialog's parent widget, or None; passed to Qt as it is.
        line_edit: a line edit that receives the chosen file as text (never a `Path`), or None.
            Only its `setText` is used. Keyword-only, default None.
        title: the dialog's caption; exactly a `str`. Keyword-only, default "Select File".
        name_filter: the dialog's file-type filter in Qt's syntax, for example
            "CSV (*.csv);;All Files (*)"; exactly a `str`. Keyword-only, default
            "All Files (*)".
        last_dir_obj: the object whose attribute holds the last-folder memory, or None for no
            memory (the dialog starts in the working directory, nothing is stored).
            Keyword-only, default None.
        last_dir_attr: the name of that attribute; exactly a `str`. A different name keeps a
            separate memory on the same object (say, one for data, one for calibration files).
            Keyword-only, default "_last_dir".
        return_pathlib: any object, taken by its truth value: true returns a `Path`, false the
            dialog's text. Keyword-only, default False.

    Returns:
        None when the user cancelled; otherwise the chosen file, the dialog's own text, or
        `Path(text)` when `return_pathlib` is true. The stubs type it `str | None` or
        `Path | None` by `return_pathlib`.

    Raises:
        TypeError: ``Argument 'name_filter' has incorrect type (expected str, got TYPE)``
            (likewise for `title` and `last_dir_attr`) before any dialog opens;
            ``pick_file_path() takes exactly 1 positional argument (N given)`` when a keyword
            argument is passed positionally.
        ValueError: ``too many values to unpack (expected 2)`` or ``need more than N values to
            unpack`` when the dialog (say, a replacement in a test) does not return a pair.
        FileNotFoundError: from `Path.cwd()` when the working directory no longer exists, even
            with a memory. Errors of the dialog and of `setText` propagate; a memory already
            stored stays.
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
    return_pathlib: Literal[True],
) -> Path | None:
    """Let the user pick one existing file, starting in the remembered folder; remember its folder, return it.

    The dialog is `QFileDialog.getOpenFileName(parent, title, start, name_filter)`, whose
    result must be a pair (path, selected filter); `start` is the folder remembered in
    `last_dir_obj.<last_dir_attr>` (a `str` or `Path` with non-empty text, used even if it no
    longer exists) or else the current working directory, which is read on every call, before
    the memory. When the user cancels, nothing changes and None is returned. Otherwise the
    folder that holds the file (not the file) becomes the memory, as a `Path` (skipped silently
    if the object refuses the attribute), then `line_edit.setText(file)` writes the dialog's
    text, then the file is returned.

    Args:
        parent: the dialog's parent widget, or None; passed to Qt as it is.
        line_edit: a line edit that receives the chosen file as text (never a `Path`), or None.
            Only its `setText` is used. Keyword-only, default None.
        title: the dialog's caption; exactly a `str`. Keyword-only, default "Select File".
        name_filter: the dialog's file-type filter in Qt's syntax, for example
            "CSV (*.csv);;All Files (*)"; exactly a `str`. Keyword-only, default
            "All Files (*)".
        last_dir_obj: the object whose attribute holds the last-folder memory, or None for no
            memory (the dialog starts in the working directory, nothing is stored).
            Keyword-only, default None.
        last_dir_attr: the name of that attribute; exactly a `str`. A different name keeps a
            separate memory on the same object (say, one for data, one for calibration files).
            Keyword-only, default "_last_dir".
        return_pathlib: any object, taken by its truth value: true returns a `Path`, false the
            dialog's text. Keyword-only, default False.

    Returns:
        None when the user cancelled; otherwise the chosen file, the dialog's own text, or
        `Path(text)` when `return_pathlib` is true. The stubs type it `str | None` or
        `Path | None` by `return_pathlib`.

    Raises:
        TypeError: ``Argument 'name_filter' has incorrect type (expected str, got TYPE)``
            (likewise for `title` and `last_dir_attr`) before any dialog opens;
            ``pick_file_path() takes exactly 1 positional argument (N given)`` when a keyword
            argument is passed positionally.
        ValueError: ``too many values to unpack (expected 2)`` or ``need more than N values to
            unpack`` when the dialog (say, a replacement in a test) does not return a pair.
        FileNotFoundError: from `Path.cwd()` when the working directory no longer exists, even
            with a memory. Errors of the dialog and of `setText` propagate; a memory already
            stored stays.
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
    return_pathlib: object = False,
) -> str | Path | None:
    """Let the user pick one existing file, starting in the remembered folder; remember its folder, return it.

    The dialog is `QFileDialog.getOpenFileName(parent, title, start, name_filter)`, whose
    result must be a pair (path, selected filter); `start` is the folder remembered in
    `last_dir_obj.<last_dir_attr>` (a `str` or `Path` with non-empty text, used even if it no
    longer exists) or else the current working directory, which is read on every call, before
    the memory. When the user cancels, nothing changes and None is returned. Otherwise the
    folder that holds the file (not the file) becomes the memory, as a `Path` (skipped silently
    if the object refuses the attribute), then `line_edit.setText(file)` writes the dialog's
    text, then the file is returned.

    Args:
        parent: the dialog's parent widget, or None; passed to Qt as it is.
        line_edit: a line edit that receives the chosen file as text (never a `Path`), or None.
            Only its `setText` is used. Keyword-only, default None.
        title: the dialog's caption; exactly a `str`. Keyword-only, default "Select File".
        name_filter: the dialog's file-type filter in Qt's syntax, for example
            "CSV (*.csv);;All Files (*)"; exactly a `str`. Keyword-only, default
            "All Files (*)".
        last_dir_obj: the object whose attribute holds the last-folder memory, or None for no
            memory (the dialog starts in the working directory, nothing is stored).
            Keyword-only, default None.
        last_dir_attr: the name of that attribute; exactly a `str`. A different name keeps a
            separate memory on the same object (say, one for data, one for calibration files).
            Keyword-only, default "_last_dir".
        return_pathlib: any object, taken by its truth value: true returns a `Path`, false the
            dialog's text. Keyword-only, default False.

    Returns:
        None when the user cancelled; otherwise the chosen file, the dialog's own text, or
        `Path(text)` when `return_pathlib` is true. The stubs type it `str | None` or
        `Path | None` by `return_pathlib`.

    Raises:
        TypeError: ``Argument 'name_filter' has incorrect type (expected str, got TYPE)``
            (likewise for `title` and `last_dir_attr`) before any dialog opens;
            ``pick_file_path() takes exactly 1 positional argument (N given)`` when a keyword
            argument is passed positionally.
        ValueError: ``too many values to unpack (expected 2)`` or ``need more than N values to
            unpack`` when the dialog (say, a replacement in a test) does not return a pair.
        FileNotFoundError: from `Path.cwd()` when the working directory no longer exists, even
            with a memory. Errors of the dialog and of `setText` propagate; a memory already
            stored stays.
    """

def collect_files_from_lineEdit(
    parent: QWidget | None,
    line_edit: QLineEdit,
    out_dir_name: str,
    name_filter: list[str],
    sort_datecode: object = False,
) -> tuple[list[str], list[str], Path] | None:
    """Collect the data files under the path in `line_edit`, with the folder their results go to.

    The text of `line_edit` is stripped of surrounding white space and may name a folder (its
    matching files are collected, not those of subfolders) or a single file (collected when it
    matches). `fernkit.filedesk.find_files_with_extensions(path, name_filter,
    sort_datecode=...)` finds the files and `fernkit.filedesk.generate_output_path(folder,
    out_dir_name)` names the output folder: inside the chosen folder, or inside the folder of
    the chosen file. The output folder is only named, never created or checked. A relative
    path is taken relative to the process's working directory.

    Every problem is shown to the user in a modal message box with `parent` as its parent, and
    the function then returns None, so the caller only tests the result:

    | situation | box | title | text |
    |-----------|-----|-------|------|
    | the line edit is empty or blank | warning | "No path" | "Please choose a file or a folder first." |
    | no such folder or file | warning | "Invalid path" | "Path not found:", newline, the stripped path |
    | an error while collecting | critical | "I/O error" | the error's text |
    | no file matched | (none) | | |

    An error while collecting is one of the `Exception` family, raised while the path is checked
    or in either `filedesk` call: an unreadable folder, an `out_dir_name` that `filedesk` refuses.

    Example:
        found = collect_files_from_lineEdit(window, path_edit, "results", [".csv"], sort_datecode=True)
        if found is not None:
            paths, names, out_dir = found

    Args:
        parent: the parent widget of the message boxes, or None (not checked).
        line_edit: the line edit that holds the path; only its `text` is used (not checked).
        out_dir_name: the name of the output folder, relative to the data folder (it may hold
            subfolders, no ".." part); exactly a `str`.
        name_filter: the file-name endings to match, ignoring case, for example [".csv",
            ".txt"]; exactly a `list` (a tuple is refused). An empty list selects every file
            (it is passed on as [""] for this call; your list is left as it is).
        sort_datecode: any object, taken by its truth value: true sorts the files by the date
            code in their names (YYYYMMDD, optionally _HHMMSS; files without one last), false
            by name. Default False.

    Returns:
        `(file_paths, base_names, out_dir)`: the matching files' full paths as text and their
        file names, in the same order, exactly as `filedesk` returned them, and the output
        folder as a `Path`; or None after a message box, or when no file matched.

    Raises:
        TypeError: ``Argument 'out_dir_name' has incorrect type (expected str, got TYPE)`` or
            ``Argument 'name_filter' has incorrect type (expected list, got TYPE)`` before the
            line edit is read; ``collect_files_from_lineEdit() takes at least 4 positional
            arguments (N given)`` (``at most 5``) for a wrong count. Errors of
            `line_edit.text()` and of the message boxes themselves propagate.
    """
