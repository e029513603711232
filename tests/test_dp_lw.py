"""The 16-bit striped local aligner against a plain Smith-Waterman."""

import tessiqpy._testing as T
from dp_models import enc, matrix, mutate, rand_seq, rng, smith_waterman

MAT = matrix()


def lw(qs, targets, go=4, ge=2, mat=MAT):
    return T.lightweight_align_i16(qs, 5, mat, targets, go, ge)


def test_examples():
    assert lw(enc("ACGTACGTAC"), [enc("ACGTACGTAC")]) == [(20, 9, 9)]
    # no matching base: every column ties at 0 and the last one wins
    assert lw(enc("AAAA"), [enc("CCC")]) == [(0, 3, 2)]
    # empty target: query_end is the last striped index inside the query
    # (seg_len 2: index 12 maps to position 9, indices 13-15 lie beyond the query)
    assert lw(enc("ACGTACGTACG"), [b""]) == [(0, 9, -1)]
    assert lw(b"", [enc("ACGT")]) == [(0, -1, 3)]
    # long identical sequences saturate
    assert lw(enc("ACGT" * 5000), [enc("ACGT" * 5000)])[0][0] == 32767


def test_against_smith_waterman():
    r = rng(31)
    for _ in range(300):
        t = rand_seq(r, r.randint(1, 80))
        qs = mutate(r, t[r.randint(0, len(t) - 1):], 0.2) or b"\x00"
        if r.random() < 0.3:
            qs = rand_seq(r, r.randint(1, 50))
        go, ge = r.choice([(4, 2), (6, 1), (2, 1)])
        [(score, qe, te)] = lw(qs, [t], go, ge)
        best, cells = smith_waterman(qs, t, MAT, go, ge)
        assert score == best
        if best > 0:
            assert (qe, te) in cells
            # later target columns win ties
            assert te == max(c[1] for c in cells)
