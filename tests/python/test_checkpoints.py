"""Checkpoints: a search killed at any moment of writing a level resumes
from its file with the uninterrupted search's results, level reports and
console lines; files of other searches, damaged or truncated files and a
path a live search holds are refused; an unwritable file warns once."""

import json
import math
import os
import random
import re
import subprocess
import sys
import textwrap
import warnings

import pytest
import tov_sr

XS = [0.3 + 0.11 * i for i in range(18)]
ROWS = [[x, 1.0 + 0.5 * math.cos(3 * x)] for x in XS]
# Nothing up to complexity 5 fits exactly, so no search ends early.
YS = [2.5 * r[0] ** 2 + math.sin(r[1]) + 0.1 * r[0] * r[1] for r in ROWS]
WEIGHTS = [1.0 + (i % 4) for i in range(len(XS))]

BASE = {"max_complexity": 5, "beam_width": 60, "verbose": True}

# Each variant of the search: its settings and the call's keywords.
VARIANTS = {
    "plain": ({}, {}),
    "terms": ({"max_terms": 2}, {}),
    "weights": ({}, {"weights": WEIGHTS}),
    "scaling": ({"linear_scaling": True}, {}),
    "units": ({}, {"x_units": ["m", "m"], "y_units": "m"}),
    "pairs": ({"meet_in_the_middle": True}, {}),
}

# The child: runs one search (through an in-process transport when asked),
# with a fault placed first when given; writes the results and the level
# reports to `out`. Console lines go to its standard output.
CHILD = textwrap.dedent(
    """
    import json, sys
    import tov_sr

    class Transport:
        def start(self, data, config):
            self.engine = tov_sr._Engine(data, config, 1)
            self.retained = []
        def resume(self, retained):
            self.retained.extend(retained)
        def evaluate(self, level, retained, stop):
            if retained is not None:
                self.retained.append(retained)
            self.engine.prepare(level, self.retained)
            return [self.engine.evaluate(s, 3) for s in range(3)]
        def complete(self, level, plan, stop):
            return [self.engine.complete(s, 3, plan) for s in range(3)]

    job = json.loads(sys.argv[1])
    if job.get("fault"):
        tov_sr._checkpoint_fault(*job["fault"])
    reports = []
    def callback(r):
        reports.append([r.level, r.candidates, r.retained,
                        None if r.best_error is None else r.best_error.hex(), r.best_formula])
    searcher = tov_sr.Searcher(**job["settings"])
    keywords = dict(job["keywords"], callback=callback)
    if job.get("distributed"):
        found = tov_sr._distributed_call(Transport(), searcher.find_candidates,
                                         (job["rows"], job["ys"]), keywords)
    else:
        found = searcher.find_candidates(job["rows"], job["ys"], **keywords)
    results = [[r.formula, r.complexity, r.error.hex(), [p.hex() for p in r.parameters]]
               for r in found]
    with open(job["out"], "w") as f:
        json.dump({"results": results, "reports": reports}, f)
    """
)


def run_child(tmp_path, settings, keywords, *, fault=None, distributed=False):
    """The child's outcome: (returncode, console lines, results, reports)."""
    out = tmp_path / "out.json"
    if out.exists():
        out.unlink()
    job = {
        "settings": settings,
        "keywords": keywords,
        "rows": ROWS,
        "ys": YS,
        "out": str(out),
        "fault": fault,
        "distributed": distributed,
    }
    env = dict(os.environ)
    module_dir = os.path.dirname(tov_sr.__file__)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [module_dir, env.get("PYTHONPATH")]))
    proc = subprocess.run(
        [sys.executable, "-c", CHILD, json.dumps(job)],
        capture_output=True, text=True, env=env, timeout=120,
    )  # fmt: skip
    if proc.returncode != 0:
        return proc.returncode, None, None, None
    data = json.loads(out.read_text())
    return 0, console(proc.stdout), data["results"], data["reports"]


def console(text):
    """The report lines, without their durations (progress lines dropped)."""
    lines = [line for line in text.splitlines() if line.startswith("[TOV-SR]")]
    return [re.sub(r"processed in .*?\. Retaining", "processed in T. Retaining", x) for x in lines]


def after(lines, level):
    """The lines after the one reporting `level` (all of them for level 1)."""
    if level == 1:
        return lines[1:]
    mark = f"[TOV-SR]   -> Level {level} processed in"
    index = next(i for i, line in enumerate(lines) if line.startswith(mark))
    return lines[index + 1 :]


@pytest.fixture(scope="module")
def uninterrupted(tmp_path_factory):
    """Per variant and path: the search without a checkpoint, run once."""
    cache = {}

    def get(name, distributed=False):
        if (name, distributed) not in cache:
            settings, keywords = VARIANTS[name]
            code, lines, results, reports = run_child(
                tmp_path_factory.mktemp("base"), {**BASE, **settings}, keywords,
                distributed=distributed,
            )  # fmt: skip
            assert code == 0
            cache[name, distributed] = lines, results, reports
        return cache[name, distributed]

    return get


# (variant, level, step, distributed, the last level the file keeps)
KILLS = [
    ("plain", 1, "write", False, 0),
    ("plain", 3, "write", False, 2),
    ("plain", 3, "sync", False, 2),
    ("plain", 3, "rename", False, 2),
    ("plain", 3, "renamed", False, 3),
    ("plain", 5, "renamed", False, 5),
    ("terms", 4, "rename", False, 3),
    ("weights", 3, "renamed", False, 3),
    ("scaling", 4, "sync", False, 3),
    ("units", 3, "renamed", False, 3),
    ("pairs", 4, "renamed", False, 4),
    ("plain", 4, "rename", True, 3),
    ("terms", 3, "renamed", True, 3),
]


@pytest.mark.parametrize("name, level, step, distributed, kept", KILLS)
def test_a_killed_search_resumes_with_the_uninterrupted_result(
    tmp_path, uninterrupted, name, level, step, distributed, kept
):
    lines, results, reports = uninterrupted(name, distributed)
    settings, keywords = VARIANTS[name]
    settings = {**BASE, **settings, "checkpoint": str(tmp_path / "search.tov")}
    code, *_ = run_child(
        tmp_path, settings, keywords, fault=[level, step, "kill"], distributed=distributed
    )
    assert code == -9
    assert not (tmp_path / "search.tov.tmp").exists() or step in ("sync", "rename")
    code, resumed_lines, resumed_results, resumed_reports = run_child(
        tmp_path, settings, keywords, distributed=distributed
    )
    assert code == 0
    assert resumed_results == results
    assert resumed_reports == reports[kept:]
    if kept == 0:
        assert resumed_lines == lines
    elif kept < BASE["max_complexity"]:
        assert resumed_lines[0] == f"[TOV-SR] Resumed from the checkpoint after level {kept}."
        assert resumed_lines[1:] == after(lines, kept)
    else:
        assert resumed_lines == []


def quiet(**settings):
    return tov_sr.Searcher(**{**BASE, "verbose": False, **settings})


def test_a_finished_search_returns_its_result_at_once(tmp_path):
    path = tmp_path / "done.tov"
    first = quiet(checkpoint=path).find_candidates(ROWS, YS)
    size = path.stat().st_size
    calls = []
    again = quiet(checkpoint=path).find_candidates(ROWS, YS, callback=calls.append)
    assert [(r.formula, r.error) for r in again] == [(r.formula, r.error) for r in first]
    assert calls == [] and path.stat().st_size == size


@pytest.mark.parametrize(
    "change, names",
    [
        ({"beam_width": 61}, "beam_width"),
        ({"max_complexity": 4}, "max_complexity"),
        ({"linear_scaling": True}, "linear_scaling"),
        ({"operators": ["Plus", "Times"]}, "operators"),
        ({"ys": [y + 1.0 for y in YS]}, "targets (y)"),
        ({"rows": ROWS[::-1]}, "inputs (X)"),
        ({"weights": WEIGHTS}, "weights"),
        ({"units": {"x_units": ["m", "m"], "y_units": "m"}}, "physical units"),
        ({"beam_width": 61, "alpha": 0.5}, "beam_width, alpha"),
    ],
)
def test_a_file_of_another_search_is_refused_naming_what_differs(tmp_path, change, names):
    path = tmp_path / "other.tov"
    quiet(max_complexity=3, checkpoint=path).find_candidates(ROWS, YS)
    before = path.read_bytes()
    change = dict(change)
    rows, ys = change.pop("rows", ROWS), change.pop("ys", YS)
    keywords = {"weights": change.pop("weights", None), **change.pop("units", {})}
    settings = {"max_complexity": 3, **change, "checkpoint": path}
    with pytest.raises(ValueError) as info:
        quiet(**settings).find_candidates(rows, ys, **keywords)
    assert str(info.value) == (
        f"checkpoint {str(path)!r} belongs to another search; what differs from this call: {names}"
    )
    assert path.read_bytes() == before


def test_settings_that_change_no_result_do_not_matter(tmp_path):
    path = tmp_path / "same.tov"
    first = quiet(checkpoint=path).find_candidates(ROWS, YS)
    again = quiet(checkpoint=str(path), time_limit=1000.0).find_candidates(ROWS, YS)
    assert [r.error for r in again] == [r.error for r in first]


def header_patched(data, offset, value):
    return data[:offset] + value + data[offset + len(value) :]


def test_another_format_version_and_math_signature_are_refused(tmp_path):
    path = tmp_path / "v.tov"
    quiet(max_complexity=2, checkpoint=path).find_candidates(ROWS, YS)
    data = path.read_bytes()
    path.write_bytes(header_patched(data, 4, (2).to_bytes(4, "little")))
    with pytest.raises(ValueError, match=r"was written in another format version 2, this build"):
        quiet(max_complexity=2, checkpoint=path).find_candidates(ROWS, YS)
    # The signature is the payload's second field; a changed byte in it,
    # resealed, is another signature.
    signature = tov_sr.math_signature().encode()
    start = data.index(signature)
    other = data[:start] + b"X" + data[start + 1 :]
    path.write_bytes(reseal(other))
    with pytest.raises(ValueError, match=r"was written by a process of math signature X"):
        quiet(max_complexity=2, checkpoint=path).find_candidates(ROWS, YS)


def fnv(payload):
    """The wire checksum: FNV-1a over 64-bit little-endian words, then bytes."""
    h = 0xCBF29CE484222325
    words = len(payload) // 8 * 8
    for i in range(0, words, 8):
        h = ((h ^ int.from_bytes(payload[i : i + 8], "little")) * 0x100000001B3) % 2**64
    for b in payload[words:]:
        h = ((h ^ b) * 0x100000001B3) % 2**64
    return h


def reseal(data):
    """The file with its first message's checksum made right again."""
    length = int.from_bytes(data[9:17], "little")
    payload = data[25 : 25 + length]
    return data[:17] + fnv(payload).to_bytes(8, "little") + data[25:]


def test_every_truncation_and_random_damage_is_refused(tmp_path):
    path = tmp_path / "small.tov"
    quiet(max_complexity=2, beam_width=3, checkpoint=path).find_candidates(ROWS, YS)
    data = path.read_bytes()
    assert len(data) < 4000

    def refused(content):
        path.write_bytes(content)
        with pytest.raises(ValueError, match=r"is damaged at byte \d+: "):
            quiet(max_complexity=2, beam_width=3, checkpoint=path).find_candidates(ROWS, YS)

    # Cut anywhere, even between two messages.
    for size in range(len(data)):
        refused(data[:size])
    rng = random.Random(29)
    for _ in range(150):
        damaged = bytearray(data)
        for _ in range(rng.randint(1, 3)):
            damaged[rng.randrange(len(damaged))] ^= rng.randint(1, 255)
        if bytes(damaged) == data:
            continue
        path.write_bytes(bytes(damaged))
        with pytest.raises(ValueError, match=r"^checkpoint .* (is damaged at byte \d+|was written)"):
            quiet(max_complexity=2, beam_width=3, checkpoint=path).find_candidates(ROWS, YS)


def test_a_truncated_file_names_the_byte(tmp_path):
    path = tmp_path / "cut.tov"
    quiet(max_complexity=3, checkpoint=path).find_candidates(ROWS, YS)
    data = path.read_bytes()
    path.write_bytes(data[:-5])
    with pytest.raises(ValueError) as info:
        quiet(max_complexity=3, checkpoint=path).find_candidates(ROWS, YS)
    assert f"the file ends at byte {len(data) - 5}, inside a message of" in str(info.value)


def test_a_path_a_live_search_holds_is_refused(tmp_path):
    path = tmp_path / "busy.tov"
    refusals = []

    def callback(report):
        # The outer search holds the lock while a second one tries.
        if report.level == 2:
            with pytest.raises(ValueError) as info:
                quiet(max_complexity=2, checkpoint=path).find_candidates(ROWS, YS)
            refusals.append(str(info.value))

    quiet(max_complexity=3, checkpoint=path).find_candidates(ROWS, YS, callback=callback)
    assert refusals == [
        f"checkpoint {str(path)!r} is in use by another live search (it holds "
        f"{str(path) + '.lock'!r})"
    ]
    # Once it ended, the path is free again.
    quiet(max_complexity=3, checkpoint=path).find_candidates(ROWS, YS)


def test_an_unwritable_path_warns_once_and_the_search_goes_on(tmp_path):
    expected = quiet().find_candidates(ROWS, YS)
    path = tmp_path / "missing" / "dir" / "c.tov"
    with pytest.warns(tov_sr.TovCheckpointWarning) as caught:
        found = quiet(checkpoint=path).find_candidates(ROWS, YS)
    assert len(caught) == 1
    assert "the search goes on without checkpoints" in str(caught[0].message)
    assert [r.error for r in found] == [r.error for r in expected]


def test_a_full_disk_warns_once_and_keeps_the_last_complete_file(tmp_path):
    path = tmp_path / "full.tov"
    expected = quiet().find_candidates(ROWS, YS)
    tov_sr._checkpoint_fault(3, "sync", "fail")
    try:
        with pytest.warns(tov_sr.TovCheckpointWarning) as caught:
            found = quiet(checkpoint=path).find_candidates(ROWS, YS)
    finally:
        tov_sr._checkpoint_fault()
    assert len(caught) == 1 and "No space left on device" in str(caught[0].message)
    assert [r.error for r in found] == [r.error for r in expected]
    assert not (tmp_path / "full.tov.tmp").exists()
    # The file holds levels 1 and 2; the same call resumes after them.
    reports = []
    quiet(checkpoint=path).find_candidates(ROWS, YS, callback=reports.append)
    assert [r.level for r in reports] == [3, 4, 5]


def test_a_warning_made_an_error_ends_the_search_with_it(tmp_path):
    with warnings.catch_warnings():
        warnings.simplefilter("error", tov_sr.TovCheckpointWarning)
        with pytest.raises(tov_sr.TovCheckpointWarning):
            quiet(checkpoint=tmp_path / "no" / "c.tov").find_candidates(ROWS, YS)


def test_the_setting_converts_shows_and_pickles(tmp_path):
    import pickle

    assert tov_sr.Searcher().checkpoint is None
    assert "checkpoint" not in repr(tov_sr.Searcher())
    s = tov_sr.Searcher(checkpoint=tmp_path / "p.tov")
    assert s.checkpoint == str(tmp_path / "p.tov")
    assert repr(s).endswith(f"checkpoint={str(tmp_path / 'p.tov')!r})")
    assert pickle.loads(pickle.dumps(s)).checkpoint == s.checkpoint
    assert pickle.dumps(tov_sr.Searcher()) == pickle.dumps(tov_sr.Searcher(checkpoint=None))
    for bad, kind in [(3, TypeError), (b"x.tov", TypeError), ("", ValueError)]:
        with pytest.raises(kind):
            tov_sr.Searcher(checkpoint=bad)
    with pytest.raises(TypeError):
        tov_sr.Searcher(10, 0.1, 1000, 0.0, 0.5, "p.tov")
    assert "TovCheckpointWarning" in tov_sr.__all__
    assert tov_sr.__all__.index("TovCheckpointWarning") > tov_sr.__all__.index("math_signature")


def test_the_regressor_passes_it_on(tmp_path):
    from tov_sr_tools import TovRegressor

    path = tmp_path / "model.tov"
    model = TovRegressor(max_complexity=3, beam_width=20, checkpoint=path).fit(ROWS, YS)
    assert path.exists()
    again = TovRegressor(max_complexity=3, beam_width=20, checkpoint=path).fit(ROWS, YS)
    assert again.result_.formula == model.result_.formula
    with pytest.raises(ValueError, match="checkpoint needs strategy='search'"):
        TovRegressor(max_complexity=3, strategy="auto", checkpoint=path).fit(ROWS, YS)
