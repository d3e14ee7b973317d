"""TAMARIND_DISABLE_CPU_FEATURES as a process sees it: read once, on the first sort, in any
case; a name it does not know gets one warning. (That every table sorts alike is the sweep's
test, and which kernels each name leaves in use the engine's.)"""
import pytest

from conftest import run_probe

PROBE = """
    import os
    import numpy as np
    import tamarind

    tamarind.sort_f64(np.random.default_rng(7).normal(size=20_000))
    # Read once: a later change of the variable is not seen (nor warned about).
    os.environ["TAMARIND_DISABLE_CPU_FEATURES"] = "LATER"
    tamarind.rayon_sort_i64(np.random.default_rng(7).integers(-2**63, 2**63 - 1, size=20_000))
    print("sorted")
"""


@pytest.mark.parametrize("setting, unknown", [
    ("AVX512F", None),
    ("avx2", None),
    (" AVX512F,SSE9, NEON ", "names 'SSE9', 'NEON' ignored"),
])
def test_setting_is_read_once_and_warns_once_about_unknown_names(setting, unknown):
    out = run_probe(PROBE, TAMARIND_DISABLE_CPU_FEATURES=setting)
    assert out.stdout.split() == ["sorted"]
    warnings = [line for line in out.stderr.splitlines() if "TAMARIND_DISABLE_CPU_FEATURES" in line]
    assert warnings == ([f"tamarind: warning: TAMARIND_DISABLE_CPU_FEATURES: unknown feature {unknown} "
                         "(known: AVX2, AVX512F)"] if unknown else [])
