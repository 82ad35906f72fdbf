"""Where the Python tests find the module, vandrelsolve and the shared cases.

CTGBATCH_BUILD_DIR names the build (default build/dev): the package is
imported from BUILD/python and vandrelsolve run from BUILD/solver.
CTGBATCH_SHARED_DIR names the folder holding data/ (default ../shared beside
the checkout); without its cases the tests that need them skip, and under
CI=true fail.
"""

import os
import pathlib
import subprocess
import sys

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("CTGBATCH_BUILD_DIR", REPO / "build" / "dev")).resolve()
SHARED = pathlib.Path(os.environ.get("CTGBATCH_SHARED_DIR", REPO.parent / "shared")).resolve()
sys.path.insert(0, str(BUILD / "python"))


@pytest.fixture(scope="package")
def vandrelsolve():
    path = BUILD / "solver" / "vandrelsolve"
    if not path.is_file():
        pytest.fail("no vandrelsolve at {} (set CTGBATCH_BUILD_DIR to the build folder)".format(path))
    return path


@pytest.fixture(scope="package")
def case_dir():
    """A case of the shared library by name, or a skip (a failure under CI=true)."""

    def find(name):
        d = SHARED / "data" / "cases" / name
        if not d.is_dir():
            message = "SKIPPED: no case {} at {}; set CTGBATCH_SHARED_DIR to the folder holding data/".format(name, d)
            if os.environ.get("CI") == "true":
                pytest.fail(message)
            pytest.skip(message)
        return d

    return find


def run_vandrelsolve(program, folder, raw, con_text, options_json="{}", case_json="{}"):
    """vandrelsolve on raw with the list con_text as its sub-file sub.con, in
    folder: its outputs there, the completed process returned."""
    folder = pathlib.Path(folder)
    (folder / "sub.con").write_text(con_text)
    (folder / "case.json").write_text(case_json)
    (folder / "options.json").write_text(options_json)
    args = [str(program), str(folder / "sub.con"), str(folder / "case.json"), str(raw), str(folder), "1", "1", "1",
            "2", str(folder / "options.json"), str(folder)]
    return subprocess.run(args, capture_output=True, text=True)
