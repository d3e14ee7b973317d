"""The benchmark script runs end to end on its quickest configuration."""
import json
import pathlib
import subprocess
import sys

import pytest

from conftest import ALL_FUNCS

SCRIPT = pathlib.Path(__file__).resolve().parents[2] / "benchmarks" / "bench.py"


def test_quick_run_writes_table_json_and_plot(tmp_path):
    pytest.importorskip("matplotlib")
    plot, out = tmp_path / "ratios.png", tmp_path / "results.json"
    proc = subprocess.run([sys.executable, str(SCRIPT), "--sizes", "1e3", "--repeat", "1", "--plot", str(plot),
                           "--json", str(out)], capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr
    assert "vs numpy" in proc.stdout
    assert plot.stat().st_size > 0

    rows = json.loads(out.read_text())["results"]
    # polars joins the table where it is installed, NumPy with its AVX-512 code off where
    # it has some.
    optional = {"polars", "numpy_noavx512"} & {r["func"] for r in rows}
    assert {r["func"] for r in rows} == {"numpy", "numpy_stable", *ALL_FUNCS} | optional
    # Each of the 17 distributions: numpy, numpy_stable, three tamarind functions, the
    # optional rows.
    assert len(rows) == 17 * (5 + len(optional))
    # Every sort ran and matched np.sort (a failure shows as a note and no ratio).
    assert [r for r in rows if r["note"] or r["ratio"] is None] == []


def test_latency_mode_reports_every_function_quiet_and_busy(tmp_path):
    out = tmp_path / "latency.json"
    proc = subprocess.run([sys.executable, str(SCRIPT), "--latency", "--sizes", "1e3", "--calls", "5",
                           "--json", str(out)], capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr
    rows = json.loads(out.read_text())["latency"]
    assert {r["func"] for r in rows} == {"numpy", *ALL_FUNCS}
    assert all(r["quiet_median"] > 0 and r["busy_p99"] >= r["busy_p90"] > 0 for r in rows)
