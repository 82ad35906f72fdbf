"""ctgbatch: the contingency solver's library from Python, tables as pandas DataFrames.

    net = ctgbatch.read_raw("case.raw")
    base = ctgbatch.solve_base(net, {"enforce_q_limits": True})
    run = ctgbatch.run_contingencies(net, "case.con", threads=4)
    run.results.sort_values("max_loading_pct", ascending=False).head(10)

Every DataFrame has the columns of the file vandrelsolve or ctgreport writes
(docs/file-formats.md), with the same values. Network, Base, Run and Report
objects are never changed after they are made: Python threads may share
them, and several threads may run contingencies on one Base at once.
"""

import json
import os

from ._frames import frame, frames

__all__ = [
    "InputError",
    "Network",
    "Base",
    "Run",
    "Report",
    "read_raw",
    "solve_base",
    "run_contingencies",
    "read_run",
]


class InputError(ValueError):
    """Bad input: what is wrong, and where.

    str(e) is vandrelsolve's message without its "vandrelsolve: " prefix,
    "FILE:LINE: what" ("FILE: what" where no one line is at fault); .file is
    the file (or the options' name), .line its line from 1 (0: none),
    .what the message alone.
    """

    def __init__(self, message, file="", line=0, what=""):
        super().__init__(message)
        self.file = file
        self.line = line
        self.what = what or message


from . import _ctgbatch  # noqa: E402  (its errors are the InputError above)


class Network:
    """A PSS/E RAW network as read: .buses, .loads, .units, .branches and
    .transformers as DataFrames, one row per record (its line in the file in
    column `line`), and .notes, the reader's warnings."""

    def __init__(self, handle):
        self._handle = handle
        tables = frames(handle.tables())
        self.buses = tables["buses"]
        self.loads = tables["loads"]
        self.units = tables["units"]
        self.branches = tables["branches"]
        self.transformers = tables["transformers"]
        self.notes = list(handle.notes)

    def summary(self):
        """Counts of each kind of record, SBASE (MVA) and the RAW revision, as a dict."""
        return dict(self._handle.summary())

    def __repr__(self):
        s = self.summary()
        return "<ctgbatch.Network {} (revision {}): {} buses, {} branches, {} transformers, {} units>".format(
            s["file"], s["revision"], s["buses"], s["branches"], s["transformers"], s["units"]
        )


class Base:
    """A solved base case: .converged, .iterations, .failure (why it did
    not converge, as vandrelsolve says it), and the base files as
    DataFrames: .buses, .units, .branches, .violations, .dclines, .facts,
    .controls and .interfaces (None where vandrelsolve writes no such
    file)."""

    def __init__(self, network, handle, options):
        self.network = network
        self.options = dict(options)
        self._handle = handle
        info = handle.info()
        self.converged = bool(info["converged"])
        self.iterations = int(info["iterations"])
        self.max_mismatch_pu = float(info["max_mismatch_pu"])
        self.failure = info["failure"]
        self.buses_cut_off = int(info["buses_cut_off"])
        self.response_note = info["response_note"]
        self.notes = list(handle.notes)
        tables = frames(handle.tables()) if self.converged else {}
        self.buses = tables.get("buses")
        self.units = tables.get("units")
        self.branches = tables.get("branches")
        self.violations = tables.get("violations")
        self.dclines = tables.get("dclines")
        self.controls = tables.get("controls")
        self.facts = tables.get("facts")
        self.interfaces = tables.get("interfaces")

    def __repr__(self):
        if not self.converged:
            return "<ctgbatch.Base: no solution: {}>".format(self.failure)
        return "<ctgbatch.Base: converged in {} iterations, {} violations>".format(
            self.iterations, len(self.violations)
        )


class Run:
    """The contingencies of a list solved against a base case: .results and
    .violations (and .interfaces with a monitor file) as vandrelsolve writes
    them, list_index counting the list's contingencies from 1; .base the
    Base they were solved against, .threads the threads used."""

    def __init__(self, base, tables, threads):
        self.base = base
        self.threads = threads
        self.results = frame(tables["results"])
        self.violations = frame(tables["violations"])
        self.interfaces = frame(tables["interfaces"]) if "interfaces" in tables else None

    def status_counts(self):
        """How many contingencies ended in each status, as a dict."""
        return self.results["status"].value_counts().to_dict()

    def __repr__(self):
        return "<ctgbatch.Run: {} contingencies, {} violation rows>".format(len(self.results), len(self.violations))


class Report:
    """ctgreport's merge of a finished ctgbatch run: .results (report.csv:
    one row per contingency of the list, no_result where no rank gave one),
    .violations (violations.csv), .interfaces (interfaces.csv, or None),
    .complete (every contingency has a result), .missing (how many have
    none), .ranks (P of the run) and .checks (a DataFrame: each rank's share
    and whether its results were taken, with why not)."""

    def __init__(self, tables):
        self.results = frame(tables["report"])
        self.violations = frame(tables["violations"])
        self.interfaces = frame(tables["interfaces"]) if "interfaces" in tables else None
        self.ranks = int(tables["ranks"])
        self.missing = int(tables["missing"])
        self.complete = self.missing == 0
        self.beyond = list(tables["beyond"])
        import pandas

        self.checks = pandas.DataFrame(
            [tuple(c) for c in tables["checks"]], columns=["rank", "first", "count", "ok", "why"]
        )

    def __repr__(self):
        verdict = "complete" if self.complete else "{} without a result".format(self.missing)
        return "<ctgbatch.Report: {} ranks, {} contingencies, {}>".format(self.ranks, len(self.results), verdict)


def read_raw(path, raw_version=None):
    """Reads a PSS/E RAW file (revisions 23 to 36; raw_version reads it as
    that revision whatever the file says). Raises InputError on bad input."""
    return Network(_ctgbatch.read_raw(os.fspath(path), int(raw_version or 0)))


def _options_json(options):
    """The options as the JSON text of an options file; a dict's keys and
    values are checked as options.json's are."""
    if options is None:
        return "options", "{}"
    if isinstance(options, (str, os.PathLike)):
        path = os.fspath(options)
        try:
            with open(path, "rb") as f:
                return path, f.read().decode("utf-8", "surrogateescape")
        except OSError as e:
            raise InputError("{}: can not be read: {}".format(path, e.strerror), path, 0,
                             "can not be read: {}".format(e.strerror)) from None
    if not isinstance(options, dict):
        raise TypeError("options: a dict of the solver's options (keys as in options.json), or an options file")
    return "options", json.dumps(options)


def solve_base(net, options=None, monitor=None):
    """Solves the network's base case as vandrelsolve does, with `options`
    (a dict with options.json's keys, or the path of an options file; a bad
    key or value raises InputError naming the key) and `monitor`, the path of
    a monitor file (what it names that the network lacks: a line each in
    .notes; a line it can not read raises InputError with the line). A base
    case without a solution is returned with .converged False and .failure
    saying why."""
    if not isinstance(net, Network):
        raise TypeError("solve_base: net is a ctgbatch.Network (read_raw)")
    name, text = _options_json(options)
    handle = _ctgbatch.solve_base(net._handle, text, name, os.fspath(monitor) if monitor is not None else "")
    return Base(net, handle, options if isinstance(options, dict) else {})


def _cores():
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        return os.cpu_count() or 1


def run_contingencies(net, contingencies, options=None, threads=None, progress=None, monitor=None):
    """Solves every contingency of a list against the base case.

    net: a Network (its base case is solved first, with `options` and the
    monitor file `monitor`) or a Base already solved (options and monitor
    then must be None). contingencies: the path of
    a contingency list, or its text (a str holding a newline or
    "CONTINGENCY"). threads: how many threads share the contingencies
    (default: the cores this process may use); each solves on a workspace
    of its own with the GIL released, and the rows are the same whatever
    the count. progress(done, total), optional, is called on this thread
    between contingencies; an exception it raises (or Ctrl-C) stops the run
    and is raised here. Raises InputError where the list can not be read or
    the base case has no solution."""
    if isinstance(net, Base):
        if options is not None or monitor is not None:
            raise ValueError(
                "run_contingencies: options and monitor belong to the base case; solve_base(net, options, monitor) first"
            )
        base = net
    else:
        base = solve_base(net, options, monitor)
    if threads is None:
        threads = _cores()
    threads = int(threads)
    if threads < 1:
        raise ValueError("run_contingencies: threads must be 1 or more, not {}".format(threads))
    text = os.fspath(contingencies)
    is_text = isinstance(contingencies, str) and ("\n" in text or "CONTINGENCY" in text.upper())
    tables = _ctgbatch.run_blocks(base._handle, text, is_text, threads, progress)
    return Run(base, tables, threads)


def read_run(work_dir):
    """ctgreport's merge of a finished ctgbatch run in work_dir (the folder
    holding case.con and the ranks' sub-files and results), as a Report.
    Raises InputError where the list can not be read."""
    return Report(_ctgbatch.read_report(os.fspath(work_dir)))
