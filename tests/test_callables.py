"""The descriptions the callables are made from: the derived files match them, and a description
that no Python signature could have is refused when the files are made, never at import."""
import importlib.util
import os
import sys
import textwrap
from pathlib import Path

import pytest

ROOT = Path(os.environ.get("LARKUI_SOURCE_DIR") or Path(__file__).resolve().parents[1])


def generator():
    found = importlib.util.spec_from_file_location("callables_generator", ROOT / "scripts" / "callables.py")
    module = importlib.util.module_from_spec(found)
    sys.modules[found.name] = module  # dataclasses look their module up
    found.loader.exec_module(module)
    return module


def test_derived_files_match_their_descriptions():
    gen = generator()
    stale = [str(path.relative_to(ROOT)) for path, text in gen.derived_files().items()
             if not path.exists() or path.read_text(encoding="utf-8") != text]
    assert stale == [], "run python scripts/callables.py"


FUNCTION = """
[module]
name = "probe"
[[bind]]
function = "f"
english = "Probe."
"""


@pytest.mark.parametrize("params, message", [
    ('[{ name = "a", default = "1" }, { name = "b" }]', "a parameter without a default follows one with a default"),
    ('[{ name = "a" }, { name = "a" }]', "duplicate parameter"),
    ('["*", "*", { name = "a" }]', "`*` appears twice"),
    ('[{ name = "a" }, "*"]', "`*` is not followed by any parameter"),
    ('[{ name = "class" }]', "parameter name 'class' is not an identifier"),
    ('[{ name = "a", annotation = "int", default = "\'x\'" }]', "the int conversion refuses the default 'x'"),
    ('[{ name = "a", annotation = "str", default = "1" }]', "the exact str conversion refuses the default 1"),
    ('[{ name = "a", convert = "exact set" }]', "unknown conversion 'exact set'"),
    ('[{ name = "a", default = "[1]" }]', "has a type no table can hold"),
    ('[{ name = "a", default = "float(\'nan\')" }]', "neither a constant nor `global.attribute`"),
    ('[{ name = "a", default = "(1, 2, 3, 4, 5)" }]', "a tuple default holds up to four ints"),
    ('[{ name = "a", default = "1 +" }]', "is not a Python expression"),
    ("[" + ", ".join(f'{{ name = "p{i}" }}' for i in range(17)) + "]", "17 parameters, more than the 16"),
    ('[{ name = "a", kind = "positional" }]', "unknown key(s) kind"),
])
def test_faulty_parameter_lists_are_refused(tmp_path, params, message):
    gen = generator()
    source = tmp_path / "callables.toml"
    source.write_text(FUNCTION + f"params = {params}\n", encoding="utf-8")
    with pytest.raises(gen.DescriptionError) as info:
        gen.load(source)
    assert message in str(info.value)


@pytest.mark.parametrize("text, message", [
    (FUNCTION + FUNCTION.split("[module]")[1].split('name = "probe"')[1], "f is bound twice"),
    ('[module]\nname = "probe"\n[[bind]]\nclass = "C"\nenglish = "C."\n[[bind.member]]\nfunction = "m"\n'
     'english = "M."\n', "a member's first parameter is `self`"),
    ('[module]\nname = "probe"\n[[bind]]\nclass = "C"\nenglish = "C."\n[[bind.member]]\nproperty = "p"\n'
     'params = [{ name = "self" }, { name = "x" }]\nenglish = "P."\n', "a property's getter takes `self` only"),
    ('[module]\nname = "probe"\nruntime_docs = "english"\n[[bind]]\nfunction = "f"\ndoc = "x"\nenglish = "F."\n',
     "the module's runtime docstrings are its English texts"),
    ('[module]\nname = "probe"\n[[bind]]\nfunction = "f"\nenglish = "F."\n[[bind]]\nfunction = "g"\nbody = "f"\n'
     'english = "G."\n', "two callables share a body"),
    ('[module]\nname = "probe"\n[[bind]]\nclass = "C"\nstate = "nowhere"\nenglish = "C."\n', "no state field nowhere"),
    ('[module]\nname = "probe"\n[[bind]]\nfunction = "f"\n', "`english` is missing"),
])
def test_faulty_descriptions_are_refused(tmp_path, text, message):
    gen = generator()
    source = tmp_path / "callables.toml"
    source.write_text(textwrap.dedent(text), encoding="utf-8")
    with pytest.raises(gen.DescriptionError) as info:
        gen.load(source)
    assert message in str(info.value)


def test_stale_derived_file_fails_the_check(tmp_path, monkeypatch, capsys):
    gen = generator()
    stub = next(path for path in gen.derived_files() if path.suffix == ".pyi")
    monkeypatch.setattr(gen, "derived_files", lambda: {stub: stub.read_text(encoding="utf-8") + "# changed\n"})
    assert gen.main(["--check"]) == 1
    assert f"{stub.relative_to(ROOT)} is stale" in capsys.readouterr().err
