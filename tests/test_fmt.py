"""CIGAR, cs, MD and ds strings, alignment statistics and CIGAR text parsing."""

import os
import random
import re
import shutil
import subprocess

import pytest

import tessiqpy._testing as T

enc = T.encode_nt4
OPS = {"M": 0, "I": 1, "D": 2, "N": 3, "S": 4, "H": 5, "=": 7, "X": 8}


def ops_of(cigar):
    return [(op, int(n)) for n, op in re.findall(r"(\d+)([MIDNSHX=])", cigar)]


# ---- the worked example ---------------------------------------------------------

TARGET, QUERY = enc(b"ACGTACGTACG"), enc(b"ACGAACGGTCG")
EXAMPLE = ops_of("3=1X2=1I2=1D2=")


def test_worked_example():
    assert T.fmt_cigar(EXAMPLE, True) == "3=1X2=1I2=1D2="
    assert T.fmt_cigar(EXAMPLE, False) == "6M1I2M1D2M"
    assert T.fmt_cs(EXAMPLE, QUERY, TARGET) == ":3*ta:2+g:2-a:2"
    assert T.fmt_cs(EXAMPLE, QUERY, TARGET, long_form=True) == "=ACG*ta=AC+g=GT-a=CG"
    assert T.fmt_md(EXAMPLE, TARGET) == "3T4^A2"
    assert T.fmt_ds(EXAMPLE, QUERY, TARGET) == ":3*ta:2+[g]:2-a:2"
    assert T.cigar_stats(EXAMPLE, QUERY, TARGET) == dict(
        matches=9, block_len=12, edit_distance=3, gap_opens=2, n_ambiguous=0, divergence=0.25, has_intron=False
    )
    info = T.dp_recalc_info("3=1X2=1I2=1D2=")
    assert (info["match_len"], info["aligned_len"], info["indel_len"], info["indel_count"]) == (9, 12, 2, 2)
    assert info["indel_log_sum"] == pytest.approx(2.0099, abs=1e-4)
    assert info["indel_log_sum"] == 2 * T.approx_log2(2.0)
    # The same alignment as one kernel M run: split back into =/X.
    packed = [6 << 4 | 0, 1 << 4 | 1, 2 << 4 | 0, 1 << 4 | 2, 2 << 4 | 0]
    assert T.convert_cigar_to_eqx(packed, QUERY, TARGET) == EXAMPLE
    # M runs in cs compare base by base and render like =/X.
    m_ops = ops_of("6M1I2M1D2M")
    assert T.fmt_cs(m_ops, QUERY, TARGET) == ":3*ta:2+g:2-a:2"
    assert T.fmt_cs(m_ops, QUERY, TARGET, long_form=True) == "=ACG*ta=AC+g=GT-a=CG"
    assert T.fmt_ds(m_ops, QUERY, TARGET) == ":3*ta:2+[g]:2-a:2"


@pytest.mark.parametrize(
    "target, query, cigar, ts, md",
    [
        ("ACGTAC", "ACGTAA", "5=1X", 0, "5C0"),  # ends in a mismatch
        ("ACGTAGGTA", "ACGTACATA", "5=2X2=", 0, "5G0G2"),  # adjacent mismatches
        ("ACGTAGGTA", "ACGTAGGTA", "9=", 0, "9"),
        ("ACGTAGGTA", "AACGTAGGTA", "1=1I8=", 0, "9"),
        ("ACGTAGGTA", "ACGTA", "2=4D3=", 0, "2^GTAG3"),
        ("ACGTAGGTAC", "ACTAC", "2=5N3=", 0, "5"),  # N skips the target silently
        ("CACGTA", "T", "1X", 2, "0C0"),
    ],
)
def test_md_edges(target, query, cigar, ts, md):
    assert T.fmt_md(ops_of(cigar), enc(target.encode()), ts) == md


INTRON_TARGET = b"AC" + b"GT" + b"A" * 96 + b"AG" + b"CA"


@pytest.mark.parametrize(
    "target, cigar, long_form, cs",
    [
        (INTRON_TARGET, "2=100N2=", False, ":2~gt100ag:2"),
        (INTRON_TARGET, "2=100N2=", True, "=AC~gt100ag=CA"),
        (b"ACGCA", "2=1N2=", False, ":2:2"),  # too short to print, the cursor still moves
        (b"ACCA", "2=0N2=", False, ":2:2"),
        (INTRON_TARGET[:50], "2=100N", False, ":2"),  # runs past the target
    ],
)
def test_cs_introns(target, cigar, long_form, cs):
    assert T.fmt_cs(ops_of(cigar), enc(b"ACCA"), enc(target), long_form=long_form) == cs


@pytest.mark.parametrize(
    "target, query, cigar, ds",
    [
        ("CAAAAGT", "CAAGT", "3=2D2=", ":3-[aa]:2"),  # the left repeat covers the deleted AA
        ("GTACAG", "GTAG", "2=2D2=", ":2-[a]c:2"),  # only the right side repeats
        ("GCAT", "GCACAT", "3=2I1=", ":3+[ca]:1"),  # right 0, left 2
        ("ACG", "ACACGG", "2=3I1=", ":2+acg:1"),  # neither side repeats
        ("ACGTT", "ACGTTTTT", "4=3I1=", ":4+[t]t[t]:1"),  # right stops at the alignment end
        ("ACGAGT", "ACGAGAGT", "3=2I3=", ":3+[ag]:3"),
        ("AAC", "AACACTTC", "2=5I1=", ":2+[c]actt:1"),
    ],
)
def test_ds_repeat_context(target, query, cigar, ds):
    assert T.fmt_ds(ops_of(cigar), enc(query.encode()), enc(target.encode())) == ds


def test_ds_context_stays_inside_the_alignment():
    # The repeat of an insertion is not looked for past the aligned part,
    # nor before it.
    query, target = enc(b"GAAAAGG"), enc(b"GAAGG")
    assert T.fmt_ds(ops_of("1=2I"), query, target) == ":1+aa"
    assert T.fmt_ds(ops_of("1=2I2="), query, target) == ":1+[aa]:2"
    assert T.fmt_ds(ops_of("2I2="), query, target, query_start=1, target_start=1) == "+[aa]:2"
    assert T.fmt_ds(ops_of("2I2="), enc(b"AAAACG"), enc(b"CG"), query_start=2) == "+aa:2"


# ---- conversions and statistics ---------------------------------------------------


@pytest.mark.parametrize(
    "packed, expected",
    [
        ([5 << 4], [("=", 2), ("X", 1), ("=", 1), ("X", 1)]),
        ([2 << 4 | 7, 1 << 4 | 8, 2 << 4 | 0], [("=", 2), ("X", 1), ("=", 1), ("X", 1)]),
        ([1 << 4 | 1, 1 << 4 | 2, 9 << 4 | 3, 2 << 4 | 5, 1 << 4 | 15], [("I", 1), ("D", 1), ("N", 9), ("M", 2), ("M", 1)]),
        ([0 << 4], []),
        ([7 << 4], [("=", 2), ("X", 1), ("=", 1), ("X", 1), ("M", 2)]),  # past the arrays
    ],
)
def test_convert_cigar_to_eqx(packed, expected):
    query, target = enc(b"ACGNA"), enc(b"ACTNCTT")[:5]
    assert T.convert_cigar_to_eqx(packed, query, target) == expected


def test_ambiguous_bases_in_statistics():
    # N against N compares equal but is neither a match nor an identity.
    query, target = enc(b"ACNTTAG"), enc(b"ACNGTNAG")
    ops = ops_of("3=1X1=1D2=")
    assert T.convert_cigar_to_eqx([5 << 4, 1 << 4 | 2, 2 << 4], query, target) == ops
    s = T.cigar_stats(ops, query, target)
    assert s == dict(matches=5, block_len=6, n_ambiguous=2, edit_distance=3, gap_opens=1,
                     divergence=pytest.approx(1 - 5 / 8), has_intron=False)
    s = T.cigar_stats(ops_of("2=5N1I"), enc(b"ACN"), enc(b"AC"))
    assert (s["has_intron"], s["n_ambiguous"], s["divergence"], s["block_len"]) == (True, 1, pytest.approx(1 - 2 / 3), 2)
    assert T.cigar_stats([], b"", b"")["divergence"] == 0


@pytest.mark.parametrize(
    "text, expected",
    [
        ("", (0, 0, 0, 0)),
        ("10M2I5D", (10, 17, 7, 2)),
        ("5S3=2X4N1H", (3, 5, 0, 0)),
        ("3P4M", (4, 4, 0, 0)),  # an unknown letter discards its number
        ("7", (0, 0, 0, 0)),
    ],
)
def test_dp_recalc_info(text, expected):
    r = T.dp_recalc_info(text)
    assert (r["match_len"], r["aligned_len"], r["indel_len"], r["indel_count"]) == expected


def matrix(a=2, b=4, sc_ambi=1):
    return [(a if i == j else -b) if i < 4 and j < 4 else -sc_ambi for i in range(5) for j in range(5)]


@pytest.mark.parametrize(
    "cigar, log_gaps, expected",
    [
        ("5=2I5=", True, 13),  # 10, down to ~2.83, then 12.83
        ("5=2I5=", False, 14),
        ("5=2D5=", False, 14),
        ("3X5=", False, 10),  # leading mismatches cost nothing
        ("5=3D", False, 10),  # a trailing gap is not charged
        ("5=100N5=", False, 20),
        ("5S5=", False, 10),
        ("", False, 0),
    ],
)
def test_compute_alignment_score_max(cigar, log_gaps, expected):
    seq = enc(b"ACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTACGT")
    ops = ops_of(cigar)
    # Query and target hold the aligned bases in order, gaps filled in.
    q, t = [], []
    for op, n in ops:
        for _ in range(n):
            b = seq[len(q) % 4]
            if op in "=M":
                q.append(b); t.append(b)
            elif op == "X":
                q.append(b); t.append((b + 1) % 4)
            elif op == "I":
                q.append(b)
            elif op in "DN":
                t.append(b)
    assert T.compute_alignment_score_max(ops, matrix(), 4, 2, bytes(q), bytes(t), log_gaps) == expected


def test_score_max_reads_missing_bases_as_ambiguous():
    # Past either array the base is 4: the ambiguous score applies.
    assert T.compute_alignment_score_max(ops_of("4="), matrix(a=3, sc_ambi=-5), 4, 2, enc(b"AC"), enc(b"AC"), False) == 16
    assert T.compute_alignment_score_max(ops_of("2=1I"), [100] * 25, 4, 2, b"", b"", True) == 200


@pytest.mark.parametrize(
    "text, expected",
    [
        ("10M2I5D", [(10, 0), (2, 1), (5, 2)]),
        ("0M5S", [(5, 4)]),
        ("3P4M", [(34, 0)]),
        ("12", []),
        ("", []),
        ("1=2X3N4H5S6B7M", [(1, 7), (2, 8), (3, 3), (4, 5), (5, 4), (67, 0)]),
        ("2m3é4I", [(234, 1)]),
        ("4294967297M", [(1, 0)]),  # the count wraps at 32 bits
        ("4294967296M1I", [(1, 1)]),
    ],
)
def test_parse_cigar_string(text, expected):
    assert T.parse_cigar_string(text) == expected


def test_encode_nt4():
    assert list(enc(b"ACGTNacgtx")) == [0, 1, 2, 3, 4, 0, 1, 2, 3, 4]
    assert enc(bytes(range(256))).count(4) == 248
    assert enc(b"") == b""


# ---- random alignments: round trips, models and samtools ------------------------------


def random_alignment(rng, n_ops=12):
    """Target, query, start offsets and =/X/I/D/N operations, neighbours differing."""
    qs, ts = rng.randint(0, 5), rng.randint(0, 5)
    t = [rng.randrange(4) for _ in range(ts)]
    q = [rng.randrange(4) for _ in range(qs)]
    ops, last = [], None
    kinds = ["="] + [rng.choice("=XIDN" if rng.random() < 0.2 else "=XID") for _ in range(n_ops)] + ["="]
    for op in kinds:
        if op == last:
            continue
        n = rng.randint(1, 8) if op != "N" else rng.randint(2, 60)
        for _ in range(n):
            b = rng.randrange(4)
            if op == "=":
                q.append(b); t.append(b)
            elif op == "X":
                q.append(b); t.append((b + rng.randint(1, 3)) % 4)
            elif op == "I":
                q.append(b)
            else:
                t.append(b)
        ops.append((op, n))
        last = op
    q += [rng.randrange(4) for _ in range(rng.randint(0, 3))]
    t += [rng.randrange(4) for _ in range(rng.randint(0, 3))]
    return bytes(q), bytes(t), qs, ts, ops


def apply_cs(cs, target, ts):
    """Rebuilds the aligned query from cs and the target; checks target bases on the way."""
    out, ti = [], ts
    up = "ACGTN"
    for m in re.finditer(r":(\d+)|=([ACGTN]+)|\*([acgtn])([acgtn])|\+([acgtn]+)|-([acgtn]+)|~([acgtn]{2})(\d+)([acgtn]{2})|(.)", cs):
        n, eq, x_t, x_q, ins, dele, i1, ilen, i2, junk = m.groups()
        assert junk is None, f"unexpected {junk!r} in {cs}"
        if n:
            out += target[ti : ti + int(n)]
            ti += int(n)
        elif eq:
            assert bytes(up.index(c) for c in eq) == target[ti : ti + len(eq)]
            out += [up.index(c) for c in eq]
            ti += len(eq)
        elif x_t:
            assert up.index(x_t.upper()) == target[ti] and x_q != x_t
            out.append(up.index(x_q.upper()))
            ti += 1
        elif ins:
            out += [up.index(c.upper()) for c in ins]
        elif dele:
            assert bytes(up.index(c.upper()) for c in dele) == target[ti : ti + len(dele)]
            ti += len(dele)
        else:
            seg = target[ti : ti + int(ilen)]
            assert bytes(up.index(c.upper()) for c in i1 + i2) == seg[:2] + seg[-2:]
            ti += int(ilen)
    return bytes(out), ti


def spans(ops):
    ql = sum(n for op, n in ops if op in "=XMI")
    tl = sum(n for op, n in ops if op in "=XMDN")
    return ql, tl


def stats_model(ops):
    m = sum(n for op, n in ops if op in "=M")
    x = sum(n for op, n in ops if op == "X")
    ins = sum(n for op, n in ops if op == "I")
    dl = sum(n for op, n in ops if op == "D")
    g = sum(1 for op, _ in ops if op in "ID")
    return dict(matches=m, block_len=m + x + ins + dl, edit_distance=x + ins + dl, gap_opens=g,
                n_ambiguous=0, divergence=1 - m / (g + m + x), has_intron=any(op == "N" for op, _ in ops))


def md_model(ops, target, ts):
    out, run, ti = "", 0, ts
    for op, n in ops:
        if op == "=":
            run += n
        elif op == "X":
            for k in range(n):
                out += f"{run}{'ACGT'[target[ti + k]]}"
                run = 0
        elif op == "D":
            out += f"{run}^" + "".join("ACGT"[c] for c in target[ti : ti + n])
            run = 0
        if op in "=XDN":
            ti += n
    return out + str(run)


@pytest.mark.parametrize("seed", range(10))
def test_random_alignments_round_trip(seed):
    rng = random.Random(seed)
    for _ in range(60):
        q, t, qs, ts, ops = random_alignment(rng)
        ql, tl = spans(ops)
        for long_form in (False, True):
            cs = T.fmt_cs(ops, q, t, qs, ts, long_form)
            got, te = apply_cs(cs, t, ts)
            assert (got, te) == (q[qs : qs + ql], ts + tl), cs
        # The kernel's M form gives the same strings after conversion.
        packed = [n << 4 | OPS[op if op not in "=X" else "M"] for op, n in ops]
        eqx = T.convert_cigar_to_eqx(packed, q, t, qs, ts)
        merged = ops_of(T.fmt_cigar(eqx, True))
        assert T.fmt_cs(merged, q, t, qs, ts) == T.fmt_cs(ops, q, t, qs, ts)
        assert T.fmt_cigar(eqx, False) == T.fmt_cigar(ops, False)
        ds = T.fmt_ds(ops, q, t, qs, ts)
        assert re.sub(r"[\[\]]", "", ds) == T.fmt_cs(ops, q, t, qs, ts)
        assert T.fmt_md(ops, t, ts) == md_model(ops, t, ts)
        assert T.cigar_stats(ops, q[qs:], t[ts:]) == stats_model(ops)


def fmt_cigar_model(ops):
    out = []
    for op, n in ops:
        op = "M" if op in "=X" else op
        if out and out[-1][0] == op:
            out[-1][1] += n
        else:
            out.append([op, n])
    return "".join(f"{n}{op}" for op, n in out)


def test_fmt_cigar_merges_only_without_eqx():
    rng = random.Random(5)
    for _ in range(200):
        ops = [(rng.choice("=XIDNM"), rng.randint(0, 20)) for _ in range(rng.randint(0, 10))]
        assert T.fmt_cigar(ops, True) == "".join(f"{n}{op}" for op, n in ops)
        assert T.fmt_cigar(ops, False) == fmt_cigar_model(ops)
    assert T.fmt_cigar([("=", 2**32 - 1), ("X", 2**32 - 1)], False) == f"{2 * (2**32 - 1)}M"


def test_renderers_stop_at_the_end_of_the_arrays():
    # Positions past an array are neither printed nor compared.
    q, t = enc(b"ACGT"), enc(b"ACGA")
    assert T.fmt_cs(ops_of("6M"), q, t) == ":3*at"
    assert T.fmt_cs(ops_of("6=2I3D"), q, t, long_form=True) == "=ACGT"
    assert T.fmt_md(ops_of("3=3X2D"), t) == "3A0"
    assert T.fmt_ds(ops_of("2=4I"), q, t) == ":2+gt"


@pytest.mark.skipif(shutil.which("samtools") is None, reason="samtools not installed")
def test_md_and_nm_agree_with_samtools_calmd(tmp_path):
    rng = random.Random(42)
    refs, records, expected = [], [], {}
    for i in range(300):
        q, t, qs, ts, ops = random_alignment(rng, n_ops=rng.randint(0, 25))
        ql, _ = spans(ops)
        name = f"r{i}"
        refs.append((name, t))
        cigar = (f"{qs}S" if qs else "") + T.fmt_cigar(ops, rng.random() < 0.5)
        tail = len(q) - qs - ql
        cigar += f"{tail}S" if tail else ""
        seq = "".join("ACGT"[c] for c in q)
        records.append(f"{name}\t0\t{name}\t{ts + 1}\t60\t{cigar}\t*\t0\t0\t{seq}\t*")
        expected[name] = (T.fmt_md(ops, t, ts), T.cigar_stats(ops, q[qs:], t[ts:])["edit_distance"])
    fa = tmp_path / "ref.fa"
    fa.write_text("".join(f">{n}\n{''.join('ACGT'[c] for c in s)}\n" for n, s in refs))
    sam = tmp_path / "in.sam"
    header = "".join(f"@SQ\tSN:{n}\tLN:{len(s)}\n" for n, s in refs)
    sam.write_text(header + "\n".join(records) + "\n")
    subprocess.run(["samtools", "faidx", str(fa)], check=True)
    res = subprocess.run(["samtools", "calmd", str(sam), str(fa)], check=True, capture_output=True, text=True)
    got = {}
    for line in res.stdout.splitlines():
        if line.startswith("@"):
            continue
        f = line.split("\t")
        tags = dict(x.split(":", 2)[::2] for x in f[11:])
        got[f[0]] = (tags["MD"], int(tags["NM"]))
    assert len(got) == len(expected)
    disagree = {k: (v, got[k]) for k, v in expected.items() if got[k] != v}
    assert not disagree
