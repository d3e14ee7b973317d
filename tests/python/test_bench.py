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
    # Each of the 19 distributions: numpy, numpy_stable, three tamarind functions, the
    # optional rows.
    assert len(rows) == 19 * (5 + len(optional))
    # Every sort ran and matched np.sort (a failure shows as a note and no ratio).
    assert [r for r in rows if r["note"] or r["ratio"] is None] == []


def test_preset_names_its_distributions_and_yields_to_options(tmp_path):
    out = tmp_path / "results.json"
    proc = subprocess.run([sys.executable, str(SCRIPT), "--preset", "large", "--sizes", "1e3", "--funcs", "sort_i64_st",
                           "--numpy-as-installed", "--json", str(out)], capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr
    data = json.loads(out.read_text())
    assert data["repeat"] == 3
    assert sorted({(r["dist"], r["n"]) for r in data["results"] if r["func"] == "sort_i64_st"}) == [
        (d, 1000) for d in ("ids_i64", "nearly_sorted_i64", "timestamps_i64", "uniform_i64")]


def test_latency_mode_reports_every_function_quiet_and_busy(tmp_path):
    out = tmp_path / "latency.json"
    proc = subprocess.run([sys.executable, str(SCRIPT), "--latency", "--sizes", "1e3", "--calls", "5",
                           "--json", str(out)], capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, proc.stderr
    rows = json.loads(out.read_text())["latency"]
    assert {r["func"] for r in rows} == {"numpy", *ALL_FUNCS}
    assert all(r["quiet_median"] > 0 and r["busy_p99"] >= r["busy_p90"] > 0 for r in rows)
