"""The Python module against the command line: the same rows and base files
as vandrelsolve, on one thread or several; its errors; the GIL released
while it solves; ctgreport's merge of a run."""

import csv
import json
import math
import os
import subprocess
import sys
import threading
import time

import pytest

import ctgbatch
from conftest import BUILD, REPO, run_vandrelsolve

EXAMPLE = REPO / "example" / "work_dir"
EXAMPLE_COUNT = (EXAMPLE / "case.con").read_text().count("CONTINGENCY")
OPTIONS = {"tolerance_pu": 1e-8, "max_iterations": 20, "enforce_q_limits": True}


def blocks_of(text, stride=1):
    """Every stride-th block of a contingency list, as the list's text."""
    lines = text.splitlines()
    starts = [i for i, line in enumerate(lines) if "CONTINGENCY" in line.upper()]
    kept = [starts[i] for i in range(0, len(starts), stride)]
    return "".join("\n".join(lines[i:i + 3]) + "\n" for i in kept) + "END\n"


def read_rows(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def same_value(text, value):
    """A file's field and a DataFrame's value agree: numbers to 1e-12
    relative, empty fields NaN or "", text as written."""
    if text == "":
        return value == "" or (isinstance(value, float) and math.isnan(value))
    try:
        x = float(text)
    except ValueError:
        return str(value) == text
    if isinstance(value, str):
        return value == text
    if math.isnan(x):
        return math.isnan(value)
    return math.isclose(x, float(value), rel_tol=1e-12, abs_tol=1e-300)


def assert_frame_equals_file(df, path, skip=()):
    rows = read_rows(path)
    with open(path) as f:
        assert list(df.columns) == f.readline().rstrip("\n").split(",")
    assert len(df) == len(rows), path
    for n, (row, record) in enumerate(zip(rows, df.to_dict("records"))):
        for col, text in row.items():
            if col in skip:
                continue
            value = record[col]
            assert same_value(text, value), "{} row {} column {}: file {!r}, frame {!r}".format(
                path.name, n + 1, col, text, value)


@pytest.fixture(scope="module")
def activsg2000(case_dir, vandrelsolve, tmp_path_factory):
    """activsg2000 with every third block of its list, run by vandrelsolve in
    a fresh folder, and by the module on one thread and on two."""
    d = case_dir("activsg2000")
    folder = tmp_path_factory.mktemp("activsg2000")
    con = blocks_of((d / "case.con").read_text(), 3)
    done = run_vandrelsolve(vandrelsolve, folder, d / "case.raw", con, json.dumps(OPTIONS))
    assert done.returncode == 0, done.stderr
    net = ctgbatch.read_raw(d / "case.raw")
    base = ctgbatch.solve_base(net, OPTIONS)
    one = ctgbatch.run_contingencies(base, con, threads=1)
    two = ctgbatch.run_contingencies(base, con, threads=2)
    return {"folder": folder, "net": net, "base": base, "one": one, "two": two, "count": con.count("CONTINGENCY")}


def test_results_equal_the_command_lines(activsg2000):
    folder = activsg2000["folder"]
    one = activsg2000["one"]
    assert len(one.results) == activsg2000["count"]
    assert set(one.results["status"]) >= {"converged"}
    assert_frame_equals_file(one.results, folder / "sub.results.csv", skip={"solve_ms"})
    assert_frame_equals_file(one.violations, folder / "sub.violations.csv")


def test_two_threads_give_the_rows_of_one(activsg2000):
    one, two = activsg2000["one"], activsg2000["two"]
    assert two.threads == 2
    cols = [c for c in one.results.columns if c != "solve_ms"]
    assert one.results[cols].equals(two.results[cols])
    assert one.violations.equals(two.violations)


def test_base_frames_equal_the_base_files(activsg2000):
    folder, base = activsg2000["folder"], activsg2000["base"]
    assert base.converged and base.iterations > 0
    for name in ("buses", "branches", "units", "violations"):
        assert_frame_equals_file(getattr(base, name), folder / "base_{}.csv".format(name))
    assert base.dclines is None and not (folder / "base_dclines.csv").exists()


def test_network_frames_hold_the_records_as_read(activsg2000):
    net = activsg2000["net"]
    s = net.summary()
    assert (s["buses"], s["revision"], s["sbase"]) == (len(net.buses), net.summary()["revision"], 100.0)
    assert len(net.loads) == s["loads"] and len(net.units) == s["units"] and len(net.branches) == s["branches"]
    assert net.buses["number"].is_unique
    assert set(net.branches["from"]) <= set(net.buses["number"])
    assert net.units["id"].map(type).eq(str).all()


def test_example_network_and_its_list_as_text():
    net = ctgbatch.read_raw(EXAMPLE / "case.raw", raw_version=33)
    assert net.summary()["buses"] == 14 and net.summary()["revision"] == 33
    bus4 = net.buses.set_index("number").loc[4]
    assert bus4["vm"] == pytest.approx(1.019) and bus4["name"].strip() == "BUS 4 HV"
    text = (EXAMPLE / "case.con").read_text()
    by_text = ctgbatch.run_contingencies(net, text, OPTIONS, threads=2)
    by_path = ctgbatch.run_contingencies(net, EXAMPLE / "case.con", OPTIONS, threads=1)
    assert len(by_text.results) == EXAMPLE_COUNT > 20
    assert list(by_text.results["label"]) == list(by_path.results["label"])
    assert list(by_text.results["index"]) == list(range(1, EXAMPLE_COUNT + 1))


def test_bad_raw_raises_input_error_as_the_command_line_says_it(tmp_path, vandrelsolve):
    lines = (EXAMPLE / "case.raw").read_text().splitlines(keepends=True)
    lines[6] = lines[6].replace("1.01900", "x.019")
    bad = tmp_path / "bad.raw"
    bad.write_text("".join(lines))
    with pytest.raises(ctgbatch.InputError) as e:
        ctgbatch.read_raw(bad)
    assert isinstance(e.value, ValueError)
    assert (e.value.file, e.value.line) == (str(bad), 7)
    assert str(e.value).startswith("{}:7: ".format(bad))
    done = run_vandrelsolve(vandrelsolve, tmp_path, bad, "")
    assert done.returncode == 1
    assert done.stderr.strip() == "vandrelsolve: " + str(e.value)
    with pytest.raises(ctgbatch.InputError) as missing:
        ctgbatch.read_raw(tmp_path / "none.raw")
    assert missing.value.line == 0 and missing.value.file == str(tmp_path / "none.raw")
    with pytest.raises(ctgbatch.InputError) as no_list:
        ctgbatch.run_contingencies(ctgbatch.read_raw(EXAMPLE / "case.raw"), tmp_path / "none.con")
    assert no_list.value.file == str(tmp_path / "none.con")


@pytest.mark.parametrize("options,key", [
    ({"tolerance_pu": -1}, "tolerance_pu"),
    ({"max_iteration": 5}, "max_iteration"),
    ({"enforce_q_limits": "yes"}, "enforce_q_limits"),
    ({"contingency_rating": "D"}, "contingency_rating"),
])
def test_a_bad_option_raises_naming_its_key(options, key):
    net = ctgbatch.read_raw(EXAMPLE / "case.raw")
    with pytest.raises(ctgbatch.InputError) as e:
        ctgbatch.solve_base(net, options)
    assert "'{}'".format(key) in str(e.value)
    assert e.value.file == "options"


def test_an_options_file_and_a_solved_base_reused(tmp_path):
    (tmp_path / "options.json").write_text('{"flat_start": true}')
    net = ctgbatch.read_raw(EXAMPLE / "case.raw")
    base = ctgbatch.solve_base(net, tmp_path / "options.json")
    assert base.converged
    with pytest.raises(ValueError):
        ctgbatch.run_contingencies(base, EXAMPLE / "case.con", options={})
    with pytest.raises(ValueError):
        ctgbatch.run_contingencies(base, EXAMPLE / "case.con", threads=0)
    with pytest.raises(ctgbatch.InputError) as e:
        ctgbatch.solve_base(net, tmp_path / "none.json")
    assert e.value.file == str(tmp_path / "none.json") and e.value.line == 0


def test_another_thread_runs_while_contingencies_solve(case_dir):
    d = case_dir("activsg2000")
    net = ctgbatch.read_raw(d / "case.raw")
    base = ctgbatch.solve_base(net)
    con = blocks_of((d / "case.con").read_text(), 8)
    ticks = []
    stop = threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(time.perf_counter())
            time.sleep(0.001)

    t = threading.Thread(target=tick)
    t.start()
    time.sleep(0.01)
    begun = time.perf_counter()
    run = ctgbatch.run_contingencies(base, con, threads=1)
    ended = time.perf_counter()
    stop.set()
    t.join()
    assert len(run.results) == con.count("CONTINGENCY")
    during = [x for x in ticks if begun < x < ended]
    # The ticker sleeps a millisecond between ticks: with the GIL held for
    # the whole run it would tick at most once or twice.
    assert ended - begun > 0.1
    assert len(during) > 20, (len(during), ended - begun)


def test_progress_counts_up_and_an_exception_in_it_stops_the_run():
    net = ctgbatch.read_raw(EXAMPLE / "case.raw")
    base = ctgbatch.solve_base(net, OPTIONS)
    for threads in (1, 2):
        seen = []
        caller = threading.get_ident()

        def progress(done, total):
            assert threading.get_ident() == caller
            seen.append((done, total))

        ctgbatch.run_contingencies(base, EXAMPLE / "case.con", threads=threads, progress=progress)
        assert seen[-1] == (EXAMPLE_COUNT, EXAMPLE_COUNT)
        assert [d for d, _ in seen] == sorted(set(d for d, _ in seen))

        def give_up(done, total):
            if done >= 2:
                raise KeyError("enough")

        with pytest.raises(KeyError, match="enough"):
            ctgbatch.run_contingencies(base, EXAMPLE / "case.con", threads=threads, progress=give_up)


def test_read_run_merges_the_ranks_and_tells_what_is_missing(tmp_path, vandrelsolve):
    work = tmp_path / "work_dir"
    work.mkdir()
    text = (EXAMPLE / "case.con").read_text()
    (work / "case.con").write_text(text)
    lines = text.splitlines(keepends=True)
    starts = [i for i, line in enumerate(lines) if line.startswith("CONTINGENCY")]
    share = (len(starts) + 1) // 2
    for rank in (0, 1):
        mine = starts[rank * share:(rank + 1) * share]
        sub = "".join("".join(lines[i:i + 3]) for i in mine) + "END\n"
        (work / "case_subctg{}.con".format(rank)).write_text(sub)
        args = [str(vandrelsolve), str(work / "case_subctg{}.con".format(rank)), str(EXAMPLE / "case.json"),
                str(EXAMPLE / "case.raw"), str(work), "1", "1", "1", "2", str(REPO / "example" / "start" / "options.json"),
                str(work)]
        assert subprocess.run(args, capture_output=True).returncode == 0
    report = ctgbatch.read_run(work)
    assert report.complete and report.missing == 0 and report.ranks == 2
    assert len(report.results) == EXAMPLE_COUNT
    assert list(report.results["list_index"]) == list(range(1, EXAMPLE_COUNT + 1))
    assert report.checks["ok"].all()
    (work / "case_subctg1.results.csv").unlink()
    partial = ctgbatch.read_run(work)
    assert not partial.complete and partial.missing == EXAMPLE_COUNT - share
    assert (partial.results["status"] == "no_result").sum() == EXAMPLE_COUNT - share
    assert not partial.checks.set_index("rank").loc[1, "ok"]


def test_the_example_study_prints_and_charts(tmp_path):
    env = dict(os.environ, PYTHONPATH=str(BUILD / "python"), MPLBACKEND="Agg")
    done = subprocess.run([sys.executable, str(REPO / "example" / "study.py"), str(tmp_path / "out")],
                          capture_output=True, text=True, env=env)
    assert done.returncode == 0, done.stderr
    assert "max_loading_pct" in done.stdout and "CTG_BR_5_6" in done.stdout
    png = (tmp_path / "out" / "loadings.png").read_bytes()
    assert png.startswith(b"\x89PNG") and len(png) > 5000


MONITOR = """SUBSYSTEM 'HV'
   KVRANGE 100 200
END
MONITOR BRANCHES IN SUBSYSTEM 'HV'
MONITOR INTERFACE 'NORTH' RATING 60 MW
   1 2 1
   5 1 1
END
MONITOR VOLTAGE DEVIATION SUBSYSTEM 'HV' 0.01 0.01
MONITOR BRANCH FROM BUS 99 TO BUS 1
END
"""


def test_a_monitor_file_gives_the_command_lines_interfaces_and_violations(tmp_path, vandrelsolve):
    mon = tmp_path / "watch.mon"
    mon.write_text(MONITOR)
    con = (EXAMPLE / "case.con").read_text()
    case_json = json.dumps({"raw_version": 33, "monitor": str(mon)})
    done = run_vandrelsolve(vandrelsolve, tmp_path, EXAMPLE / "case.raw", con, json.dumps(OPTIONS), case_json)
    assert done.returncode == 0, done.stderr
    net = ctgbatch.read_raw(EXAMPLE / "case.raw", raw_version=33)
    base = ctgbatch.solve_base(net, OPTIONS, monitor=mon)
    assert base.notes == ["{}:10: no branch from bus 99 to bus 1 circuit 1 in the network".format(mon)]
    assert_frame_equals_file(base.interfaces, tmp_path / "base_interfaces.csv")
    assert_frame_equals_file(base.violations, tmp_path / "base_violations.csv")
    run = ctgbatch.run_contingencies(base, con, threads=2)
    assert_frame_equals_file(run.interfaces, tmp_path / "sub.interfaces.csv")
    assert_frame_equals_file(run.violations, tmp_path / "sub.violations.csv")
    assert len(run.interfaces) > 20
    assert ctgbatch.run_contingencies(net, con, OPTIONS).interfaces is None

    mon.write_text(MONITOR.replace("KVRANGE 100 200", "KVRANGE 200 100"))
    with pytest.raises(ctgbatch.InputError) as e:
        ctgbatch.solve_base(net, OPTIONS, monitor=mon)
    assert (e.value.file, e.value.line) == (str(mon), 2)
    assert "KVRANGE: '200' is above '100'" in str(e.value)
