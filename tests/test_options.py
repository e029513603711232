"""Preset application: every preset's values, the matching rules and the
process-wide kernel level cap."""

import math
import struct

import pytest

import tessiqpy._testing as T

BASE = T.base_options()


def f32(v):
    return struct.unpack("f", struct.pack("f", v))[0]


def pen(k, scale=0.8):
    """The chain gap penalty a preset derives: f32(scale * 0.01 * k) in double."""
    return f32(f32(scale) * 0.01 * k)


def changes(name):
    """(changed fields as {path: value}, k, w, hpc) relative to the base values."""
    opts, k, w, hpc = T.apply_preset_str(name)
    diff = {}
    for group, fields in opts.items():
        if isinstance(fields, dict):
            for field, value in fields.items():
                if BASE[group][field] != value:
                    diff[field] = value
        elif BASE[group] != fields:
            diff[group] = fields
    return diff, k, w, hpc


def test_base_values_spot_checks():
    assert BASE["seeding"]["max_max_occ"] == 4095
    assert BASE["chaining"]["chn_pen_gap"] == f32(0.12)
    assert BASE["filtering"]["mask_len"] == 2**31 - 1
    assert BASE["alignment"]["max_sw_mat"] == 100_000_000
    assert BASE["mini_batch_size"] == 500_000_000 and BASE["flags"] == 0


def test_map_ont_changes_only_index_parameters_and_penalties():
    diff, k, w, hpc = changes("map-ont")
    assert (k, w, hpc) == (15, 10, False)
    # chn_pen_gap is recomputed in double precision: 0.12 up to the last bit
    assert diff == {"chn_pen_gap": pen(15)}
    assert abs(pen(15) - 0.12) < 1e-8


# (name, k, w, hpc, cap, flags, values that differ from the base)
PRESETS = [
    ("map-pb", 19, 10, True, 0, 0, {"chn_pen_gap": pen(19)}),
    ("map-hifi", 19, 19, False, 0, 0, dict(
        max_gap=10000, min_mid_occ=50, max_mid_occ=500, match_score=1, gap_open=6,
        gap_open2=26, min_dp_max=200, chn_pen_gap=pen(19))),
    ("lr:hq", 19, 19, False, 0, 0, dict(
        max_gap=10000, min_mid_occ=50, max_mid_occ=500, chn_pen_gap=pen(19))),
    ("lr:hqae", 25, 51, False, 0, 0x80000000, dict(
        min_mid_occ=50, max_mid_occ=500, rmq_inner_dist=5000, occ_dist=200, best_n=100,
        chain_gap_scale=5.0, chn_pen_gap=pen(25, 5.0), flags=0x80000000)),
    ("map-iclr", 19, 10, False, 0, 0, dict(
        mismatch_penalty=6, gap_open=10, transition=4, gap_open2=50, chn_pen_gap=pen(19))),
    ("sr", 21, 11, False, 1, 0x407000, dict(
        mismatch_penalty=8, gap_open=12, max_frag_len=800, pe_ori=1, max_gap=100, bandwidth=100,
        bandwidth_long=100, min_cnt=2, min_chain_score=25, zdrop=100, zdrop_inv=100,
        end_bonus=10, min_dp_max=40, best_n=20, pri_ratio=0.5, mid_occ=1000, max_occ=5000,
        mini_batch_size=50_000_000, flags=0x407000, chn_pen_gap=pen(21))),
    ("asm20", 19, 10, False, 0, 0x80000000, dict(
        bandwidth=1000, bandwidth_long=100000, max_gap=10000, min_mid_occ=50, max_mid_occ=500,
        min_dp_max=200, best_n=50, match_score=1, gap_open=6, gap_open2=26, zdrop=200,
        flags=0x80000000, chn_pen_gap=pen(19))),
    ("asm5", 19, 19, False, 0, 0x80000000, dict(
        bandwidth=1000, bandwidth_long=100000, max_gap=10000, min_mid_occ=50, max_mid_occ=500,
        min_dp_max=200, best_n=50, match_score=1, mismatch_penalty=19, gap_open=39,
        gap_extend=3, gap_open2=81, zdrop=200, flags=0x80000000, chn_pen_gap=pen(19))),
    ("ava-pb", 19, 5, True, 1, 0x800403, dict(
        min_chain_score=100, pri_ratio=0.0, bandwidth_long=500, occ_dist=0, flags=0x800403,
        chn_pen_gap=pen(19))),
    ("ava-ont", 15, 5, False, 1, 0x800403, dict(
        min_chain_score=100, pri_ratio=0.0, bandwidth=2000, bandwidth_long=2000, occ_dist=0,
        flags=0x800403, chn_pen_gap=pen(15))),
    ("splice:sr", 15, 5, False, 0, 0xC000446380, dict(
        max_sw_mat=0, max_gap=2000, max_gap_ref=200000, bandwidth=200000, bandwidth_long=200000,
        match_score=1, gap_open=6, gap_extend=1, gap_extend2=0, noncanon_penalty=5, junc_bonus=9, junc_pen=5, zdrop=200, zdrop_inv=100, is_splice=True,
        min_chain_score=25, min_dp_max=40, min_dp_len=20, pe_ori=1, best_n=10,
        mini_batch_size=100_000_000, flags=0xC000446380, chn_pen_gap=pen(15))),
]


@pytest.mark.parametrize("name,k,w,hpc,cap,flags,expected", PRESETS, ids=[p[0] for p in PRESETS])
def test_preset_values(name, k, w, hpc, cap, flags, expected):
    diff, gk, gw, ghpc = changes(name)
    assert (gk, gw, ghpc) == (k, w, hpc)
    assert T.simd_cap() == cap
    expected = {key: (f32(v) if isinstance(v, float) else v) for key, v in expected.items()}
    # mismatch 4, gap_open2 24 and the like equal base values and do not show
    assert diff == expected


@pytest.mark.parametrize(
    "alias,canonical",
    [("lr", "map-ont"), ("map10k", "map-pb"), ("map-ccs", "map-hifi"), ("short", "sr"),
     ("cdna", "splice"), ("splice1234", "splice"), ("splicex", "splice"), ("splice:hq", "splice:hq")],
)
def test_aliases_and_prefix_rules(alias, canonical):
    assert T.apply_preset_str(alias) == T.apply_preset_str(canonical)


def test_splice_hq_and_family_flags():
    diff, *_ = changes("splice:hq")
    assert diff["flags"] == 0x40380
    opts, *_ = T.apply_preset_str("splice:hq")
    sc = opts["scoring"]
    assert (sc["noncanon_penalty"], sc["mismatch_penalty"], sc["gap_open"], sc["gap_open2"]) == (5, 4, 6, 24)
    diff, *_ = changes("splice")
    assert diff["gap_extend2"] == 0 and diff["mismatch_penalty"] == 2


@pytest.mark.parametrize(
    "name,message",
    [
        ("asm", "unrecognized asm preset 'asm' (expected asm5, asm10, or asm20)"),
        ("asm7", "unrecognized asm preset 'asm7' (expected asm5, asm10, or asm20)"),
        ("ASM5", "unrecognized preset 'ASM5'"),
        ("splic", "unrecognized preset 'splic'"),
        ("", "unrecognized preset ''"),
        ("x", "unrecognized preset 'x'"),
        ("map-ont ", "unrecognized preset 'map-ont '"),
    ],
)
def test_unrecognised_names(name, message):
    T.apply_preset_str("sr")
    assert T.simd_cap() == 1
    with pytest.raises(ValueError) as info:
        T.apply_preset_str(name)
    assert str(info.value) == message
    assert T.simd_cap() == 0  # reset before the name was rejected


def test_partial_asm_family_is_written_before_the_error():
    opts, k, w, hpc, error = T.apply_preset_partial("asm99")
    assert error.startswith("unrecognized asm preset")
    assert (k, w) == (19, 19)
    assert opts["chaining"]["bandwidth"] == 1000 and opts["flags"] == 0x80000000


def test_every_facade_preset_name_is_recognised():
    names = T.preset_names()
    assert len(names) == 16 and names[0] == "map-ont" and names[-1] == "ava-pb"
    for name in names:
        opts, *_ = T.apply_preset_str(name)
        assert math.isfinite(opts["chaining"]["chn_pen_gap"])
        assert opts["chaining"]["chn_pen_skip"] == 0.0


def test_level_cap_is_last_preset_wins():
    T.apply_preset_str("sr")
    assert T.simd_cap() == 1
    T.apply_preset_str("map-hifi")
    assert T.simd_cap() == 0
