"""The example's contingencies from Python, on every core: the ten highest
loadings printed and charted as a PNG.

    PYTHONPATH=build/dev/python python3 example/study.py [OUT_DIR]

The chart goes to OUT_DIR (default: a new temporary folder).
"""

import pathlib
import sys
import tempfile

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import ctgbatch  # noqa: E402

example = pathlib.Path(__file__).resolve().parent
out = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(tempfile.mkdtemp(prefix="ctgbatch-study-"))
out.mkdir(parents=True, exist_ok=True)

net = ctgbatch.read_raw(example / "work_dir" / "case.raw")
print(net)
run = ctgbatch.run_contingencies(net, example / "work_dir" / "case.con", options=example / "start" / "options.json")
print("statuses:", run.status_counts())
top = run.results.nlargest(10, "max_loading_pct")[["label", "status", "max_loading_pct", "max_loading_branch"]]
print(top.to_string(index=False))

fig, ax = plt.subplots(figsize=(8, 4))
ax.barh(top["label"][::-1], top["max_loading_pct"][::-1], color="tab:blue")
ax.axvline(100, color="tab:red", linestyle="--", linewidth=1)
ax.set_xlabel("highest branch loading after the outage (%)")
ax.set_title("IEEE 14-bus: the ten outages with the highest loadings")
fig.tight_layout()
fig.savefig(out / "loadings.png", dpi=100)
print("chart:", out / "loadings.png")
