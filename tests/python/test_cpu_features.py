"""TAMARIND_DISABLE_CPU_FEATURES as a process sees it: read once, on the first sort; a name
it does not know gets one warning; every setting sorts the same. (Which kernels each name
leaves in use is the engine's test; the suite also runs whole with all of them off.)"""
import os
import subprocess
import sys
import textwrap

import pytest

PROBE = """
    import os
    import numpy as np
    import tamarind

    def check(name, a):
        b = a.copy()
        getattr(tamarind, name)(b)
        assert np.array_equal(b, np.sort(a)), name
        assert np.array_equal(np.sort(b.view(np.int64)), np.sort(a.view(np.int64))), name

    rng = np.random.default_rng(7)
    floats = rng.normal(size=20_000)
    floats[rng.integers(0, floats.size, 500)] = -0.0
    floats[rng.integers(0, floats.size, 500)] = 0.0
    for name in ("rayon_sort_f64", "sort_f64_st", "sort_f64"):
        check(name, floats)
    # Read once: a later change of the variable is not seen (nor warned about).
    os.environ["TAMARIND_DISABLE_CPU_FEATURES"] = "LATER"
    for name in ("rayon_sort_i64", "sort_i64_st", "sort_i64"):
        check(name, rng.integers(-2**63, 2**63 - 1, size=20_000))
    print("sorted")
"""


@pytest.mark.parametrize("setting, unknown", [
    ("AVX512F", None),
    ("AVX512F AVX2", None),
    ("avx2", None),
    (" AVX512F,SSE9, NEON ", "names 'SSE9', 'NEON' ignored"),
])
def test_setting_sorts_the_same_and_warns_once_about_unknown_names(setting, unknown):
    env = dict(os.environ, TAMARIND_DISABLE_CPU_FEATURES=setting, OMP_NUM_THREADS="1")
    out = subprocess.run([sys.executable, "-c", textwrap.dedent(PROBE)], env=env, capture_output=True, text=True,
                         timeout=120)
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["sorted"]
    warnings = [line for line in out.stderr.splitlines() if "TAMARIND_DISABLE_CPU_FEATURES" in line]
    assert warnings == ([f"tamarind: warning: TAMARIND_DISABLE_CPU_FEATURES: unknown feature {unknown} "
                         "(known: AVX2, AVX512F)"] if unknown else [])
