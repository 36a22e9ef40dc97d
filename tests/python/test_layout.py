"""The layout check of the C++ sources: includes point down the floors."""

import importlib.util
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
spec = importlib.util.spec_from_file_location("check_layout", ROOT / "tools" / "check_layout.py")
check_layout = importlib.util.module_from_spec(spec)
spec.loader.exec_module(check_layout)


def write(src, path, text):
    (src / path).parent.mkdir(parents=True, exist_ok=True)
    (src / path).write_text(text)


def test_the_sources_point_down():
    assert check_layout.violations(ROOT / "src") == []


def test_an_include_up_or_sideways_is_reported(tmp_path):
    write(tmp_path, "fit/a.hpp", '#include "search/b.hpp"\n#include "numeric/c.hpp"\n')
    write(tmp_path, "units/d.cpp", '#include "cluster/e.hpp"\n#include "units/f.hpp"\n')
    write(tmp_path, "attic/g.cpp", "")
    found = check_layout.violations(tmp_path)
    assert found == [
        f"{tmp_path / 'attic/g.cpp'}: the room 'attic' has no floor in tools/check_layout.py",
        f"{tmp_path / 'fit/a.hpp'}: includes search/, which is not below fit/",
        f"{tmp_path / 'units/d.cpp'}: includes cluster/, which is not below units/",
    ]
