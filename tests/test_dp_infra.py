"""DP infrastructure: the per-thread scratch cache, its fatal errors, the
dispatchers' variant choice and the dual-affine compare mode."""

import os
import subprocess
import sys
import tempfile
import threading

import pytest

import tessiqpy
import tessiqpy._testing as T


def test_scratch_cache_grows_and_is_reused():
    def body(out):
        T.dp_mem_cache_clear()
        out.append(T.dp_mem_cache())
        out.append(T.aligned_memory(1000, 32))
        out.append(T.dp_mem_cache())
        out.append(T.aligned_memory(100, 16))  # smaller request reuses the block
        out.append(T.aligned_memory(5000, 16))  # larger request replaces it
        out.append(T.aligned_memory(10, 64))  # stronger alignment replaces it too
    out = []
    t = threading.Thread(target=body, args=(out,))  # a fresh thread, a fresh slot
    t.start()
    t.join()
    assert out == [None, (1000, 32), (1000, 32), (1000, 32), (5000, 16), (10, 64)]


@pytest.mark.parametrize("size,align,msg", [
    (16, 3, "DP: invalid alignment layout (size=16, align=3)"),
    (2**63, 64, f"DP: invalid alignment layout (size={2**63}, align=64)"),
    (2**62, 64, f"DP: failed to allocate {2**62} bytes (aligned to 64)"),
])
def test_scratch_failures_are_fatal(size, align, msg):
    T.dp_mem_cache_clear()  # a cached block large enough would be handed out unchecked
    with pytest.raises(tessiqpy.FatalError) as exc:
        T.aligned_memory(size, align)
    assert str(exc.value) == msg
    T.aligned_memory(64, 16)  # the thread's cache still works afterwards


PROBE = """
import sys, tessiqpy._testing as T
from dp_models import enc, matrix
print(T.dp_level())
# a banded case where the widened anti-diagonals change mte
q, t = enc("GCTCGGTACTCTCGGTGAAAC"), enc("GCCGGAGCTGGGCATTC")
r = T.extend_dual_affine(q, t, 5, matrix(), 4, 2, 24, 1, 2, -1, 0, 0)
print(r["score"])
T.extend_dual_affine(q, t, 5, matrix(), 4, 2, 4, 2, 2, -1, 0, 0)
"""


def probe(env):
    clean = {k: v for k, v in os.environ.items() if not k.startswith("TESSIQ_")}
    clean.update(env)
    clean["PYTHONPATH"] = os.path.dirname(__file__)
    return subprocess.run([sys.executable, "-c", PROBE], env=clean, capture_output=True, text=True,
                          check=True, cwd=tempfile.gettempdir())


def test_compare_mode_reports_differences():
    out = probe({"TESSIQ_FORCE_SCALAR": "", "TESSIQ_COMPARE_SCALAR": "1"})
    lines = out.stderr.splitlines()
    assert lines[0] == "DP MISMATCH qlen=21 tlen=17 bandwidth=2 z_drop=-1 eb=0 flags=0x0"
    assert lines[1].startswith("  SIMD:   score=") and lines[2].startswith("  Scalar: score=")
    assert lines[1] == ("  SIMD:   score=-1073741824 max=     4 max_q=   1 max_t=   1 "
                        "mqe=-1073741824 mqe_t=   0 mte=   -18 mte_q=  16 re=0 zd=1")
    assert lines[2] == ("  Scalar: score=-1073741824 max=     4 max_q=   1 max_t=   1 "
                        "mqe=-1073741824 mqe_t=   0 mte=   -22 mte_q=  16 re=0 zd=1")
    assert len(lines) == 3  # same CIGAR
    # the equal-pair call delegates to the single-affine kernel: no report
    assert sum(line.startswith("DP MISMATCH") for line in lines) == 1
    assert out.stdout.split()[0] == "scalar"


def test_compare_needs_force_scalar():
    out = probe({"TESSIQ_COMPARE_SCALAR": "1"})
    assert out.stderr == "" and out.stdout.split()[0] != "scalar"
