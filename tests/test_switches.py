"""Environment switches and kernel selection. Switches are read once per
process, so each case runs in a fresh interpreter."""

import json
import os
import subprocess
import sys
import tempfile

import pytest

import tessiqpy._testing as T

PROBE = """
import json, tessiqpy._testing as T
out = {"switches": T.switches(), "dp": T.dp_level(), "chain": T.chain_level()}
T.apply_preset_str("sr")
out["dp_sr"], out["chain_sr"] = T.dp_level(), T.chain_level()
T.apply_preset_str("map-ont")
out["dp_ont"] = T.dp_level()
print(json.dumps(out))
"""

FEATURES = T.cpu_features()
TOP = "avx512" if FEATURES["avx512bw"] else "avx2" if FEATURES["avx2"] else "sse41"


def probe(env):
    clean = {k: v for k, v in os.environ.items() if not k.startswith("TESSIQ_")}
    clean.update(env)
    # run outside the source tree so the installed package is imported
    out = subprocess.run([sys.executable, "-c", PROBE], env=clean, capture_output=True, check=True,
                         cwd=tempfile.gettempdir())
    return json.loads(out.stdout)


def test_defaults():
    r = probe({})
    assert not any(r["switches"].values())
    assert r["dp"] == TOP and r["dp_ont"] == TOP
    if FEATURES["avx512bw"]:
        # the short-read preset caps the level below AVX-512 for every aligner
        assert r["dp_sr"] == "avx2" and r["chain_sr"] == "avx2"


@pytest.mark.parametrize("value", ["", "0", "false", "1"])
def test_any_utf8_value_turns_a_switch_on(value):
    r = probe({"TESSIQ_FORCE_SCALAR": value})
    assert r["switches"]["TESSIQ_FORCE_SCALAR"] is True
    assert r["dp"] == "scalar"
    # the DP switch does not force the scalar chainer
    assert r["chain"] != "scalar" or not FEATURES["avx2"]


def test_non_utf8_value_counts_as_absent():
    env = {k: v for k, v in os.environ.items() if not k.startswith("TESSIQ_")}
    envb = {k.encode(): v.encode() for k, v in env.items()}
    envb[b"TESSIQ_FORCE_SCALAR"] = b"\xff\xfe"
    out = subprocess.run([sys.executable, "-c", PROBE], env=envb, capture_output=True, check=True,
                         cwd=tempfile.gettempdir())
    r = json.loads(out.stdout)
    assert r["switches"]["TESSIQ_FORCE_SCALAR"] is False
    assert r["dp"] == TOP


@pytest.mark.parametrize(
    "env,dp,chain",
    [
        ({"TESSIQ_FORCE_SSE": "1"}, "sse41", "sse2"),
        ({"TESSIQ_FORCE_AVX2": "1"}, "avx2", "avx2"),
        ({"TESSIQ_FORCE_SCALAR_CHAIN": "1"}, TOP, "scalar"),
        ({"TESSIQ_COMPARE_SCALAR": "1"}, TOP, TOP),
    ],
)
def test_switches_remove_candidates(env, dp, chain):
    if not FEATURES["avx512bw"]:
        pytest.skip("the table assumes an AVX-512 machine")
    r = probe(env)
    assert (r["dp"], r["chain"]) == (dp, chain)


def test_force_avx512_lifts_the_cap():
    if not FEATURES["avx512bw"]:
        pytest.skip("needs AVX-512")
    r = probe({"TESSIQ_FORCE_AVX512": "1"})
    assert r["dp_sr"] == "avx512" and r["chain_sr"] == "avx512"
