import os
from pathlib import Path

import pytest

from fernkit import filedesk


def make(folder, *names):
    for n in names:
        (folder / n).write_text("x")


def test_folder_matches_extensions_case_insensitively_not_recursively(tmp_path):
    make(tmp_path, "b.CSV", "a.csv", "c.txt", "d.csvx")
    (tmp_path / "sub").mkdir()
    make(tmp_path / "sub", "deep.csv")
    (tmp_path / "dir.csv").mkdir()  # a folder is never a match

    paths, names = filedesk.find_files_with_extensions(str(tmp_path), [".csv"])

    assert names == ["a.csv", "b.CSV"]
    assert paths == [os.path.join(str(tmp_path), n) for n in names]


def test_empty_filter_matches_every_file_and_several_filters_combine(tmp_path):
    make(tmp_path, "a.csv", "b.txt", "c")
    assert filedesk.find_files_with_extensions(tmp_path, [""])[1] == ["a.csv", "b.txt", "c"]
    assert filedesk.find_files_with_extensions(tmp_path, [".txt", ".CSV"])[1] == ["a.csv", "b.txt"]
    assert filedesk.find_files_with_extensions(tmp_path, ".txt")[1] == ["b.txt"]


def test_single_file_is_returned_alone_when_it_matches(tmp_path):
    make(tmp_path, "one.csv", "two.csv")
    target = str(tmp_path / "one.csv")
    assert filedesk.find_files_with_extensions(target, [".csv"]) == ([target], ["one.csv"])
    assert filedesk.find_files_with_extensions(target, [".txt"]) == ([], [])


def test_sort_by_date_code_puts_undated_files_last(tmp_path):
    make(tmp_path, "z_20240102.csv", "a_20231231_235959.csv", "m_20240102_000001.csv", "plain.csv",
         "99999999.csv", "123456789.csv", "b_20240102_0000011.csv")

    by_name = filedesk.find_files_with_extensions(tmp_path, [".csv"])[1]
    by_date = filedesk.find_files_with_extensions(tmp_path, [".csv"], sort_datecode=True)[1]

    assert by_name == sorted(by_name, key=str.casefold)
    # 99999999 is no calendar date and a 9-digit run holds no code; a malformed time
    # leaves the date alone.
    assert by_date == ["a_20231231_235959.csv", "b_20240102_0000011.csv", "z_20240102.csv",
                       "m_20240102_000001.csv", "123456789.csv", "99999999.csv", "plain.csv"]


def test_date_code_reads_the_first_valid_code():
    assert filedesk.date_code("x_20230230_20240315_120000.dat") == ("20240315", "120000")
    assert filedesk.date_code("nothing.dat") is None


@pytest.mark.parametrize("path, filters, error, text", [
    ("/no/such/folder", [".csv"], FileNotFoundError, "No such folder or file: '/no/such/folder'"),
    (None, [".csv"], TypeError, "path must be a str or a path object, not NoneType"),
    (b"/tmp", [".csv"], TypeError, "path must be a str or a path object, not bytes"),
    ("", [".csv"], ValueError, "path is empty"),
    (".", [".csv", 3], TypeError, "each filter must be a str, got int: 3"),
    (".", None, TypeError, "filters must be a list of str, not NoneType"),
    (".", [], ValueError, "filters is empty; use [''] to select every file"),
])
def test_bad_input_to_find_raises_clearly(path, filters, error, text):
    with pytest.raises(error) as info:
        filedesk.find_files_with_extensions(path, filters)
    assert str(info.value) == text


def test_generate_output_path_names_without_creating(tmp_path):
    out = filedesk.generate_output_path(str(tmp_path), "results")
    assert out == os.path.join(str(tmp_path), "results")
    assert not os.path.exists(out)
    assert filedesk.generate_output_path(Path("data dir/"), "out/run 1") == os.path.join("data dir", "out/run 1")


@pytest.mark.parametrize("folder, name, error", [
    ("/data", "", ValueError),
    ("/data", "   ", ValueError),
    ("/data", "/abs", ValueError),
    ("/data", "../up", ValueError),
    ("/data", None, TypeError),
    (3, "out", TypeError),
])
def test_bad_input_to_generate_raises(folder, name, error):
    with pytest.raises(error):
        filedesk.generate_output_path(folder, name)
