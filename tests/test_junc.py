"""Junction database: BED and SPSC loading and per-region annotation."""

import errno
import os
import random
import re
import struct

import pytest

import tessiqpy._testing as T

NAMES = ["chr1", "chr2", "chr3"]
LENGTHS = [10_000, 5_000, 800]


def write(tmp_path, text, name="in.txt"):
    p = tmp_path / name
    p.write_bytes(text.encode() if isinstance(text, str) else text)
    return p


def bed(tmp_path, text, capfd=None, names=NAMES):
    db = T.load_bed_junctions(write(tmp_path, text), names)
    assert db.is_bed
    return db


def kept(db):
    return [iv for lst in db.bed_intervals() for iv in lst]


# ---- plain models of both loaders and of get_junc -------------------------------


def parse_i(s, bits):
    """Decimal with an optional sign, inside the signed range, else None."""
    if not re.fullmatch(r"[+-]?[0-9]+", s):
        return None
    v = int(s)
    return v if -(2 ** (bits - 1)) <= v < 2 ** (bits - 1) else None


def bed_model(text, names=NAMES):
    ids = {n: i for i, n in enumerate(names)}
    lists = [[] for _ in names]
    for line in text.split("\n"):
        line = line[:-1] if line.endswith("\r") else line
        if not line or line.startswith(("#", "track", "browser")):
            continue
        f = line.split("\t")
        if len(f) < 3 or f[0] not in ids:
            continue
        s, e = parse_i(f[1], 32), parse_i(f[2], 32)
        if s is None or e is None or not 0 <= s < e:
            continue
        strand = {"+": 1, "-": -1}.get(f[5], 0) if len(f) >= 6 else 0
        if len(f) < 12:
            lists[ids[f[0]]].append((s, e, strand))
            continue
        f9 = f[9][1:] if f[9].startswith("+") else f[9]
        if not f9.isdigit() or int(f9) <= 1:
            continue
        n = int(f9)
        sizes = [v for v in (parse_i(p, 32) for p in f[10].split(",") if p) if v is not None]
        starts = [v for v in (parse_i(p, 32) for p in f[11].split(",") if p) if v is not None]
        if len(sizes) < n or len(starts) < n:
            continue
        for k in range(n - 1):
            d, a = s + starts[k] + sizes[k], s + starts[k + 1]
            if 0 <= d < a < 2**31:
                lists[ids[f[0]]].append((d, a, strand))
    out = []
    for lst in lists:
        lst.sort(key=lambda iv: (iv[0], iv[1]))  # stable
        uniq = []
        for iv in lst:
            if not uniq or uniq[-1][:2] != iv[:2]:
                uniq.append(iv)
        out.append(uniq)
    return out


def bed_junc_model(intervals, a, b):
    out = [0] * max(0, b - a)
    for s, e, strand in intervals:
        if s >= a and e <= b and strand:
            out[s - a] |= 0x01 if strand > 0 else 0x08
            out[e - 1 - a] |= 0x02 if strand > 0 else 0x04
    return bytes(out)


def spsc_model(text, scale=0.7, max_score=20, names=NAMES, lengths=LENGTHS):
    ids = {n: i for i, n in enumerate(names)}
    lists = [[] for _ in range(2 * len(names))]
    h = max(0, min(max_score, 63))
    for line in text.split("\n"):
        line = line[:-1] if line.endswith("\r") else line
        if not line or line.startswith("#"):
            continue
        f = line.split("\t")
        if len(f) < 5 or f[0] not in ids or f[2] not in ("+", "-") or f[3] not in ("D", "A"):
            continue
        pos, score = parse_i(f[1], 64), parse_i(f[4], 32)
        if pos is None or score is None:
            continue
        if 0 < scale < 1:
            score = int(score * scale + 0.499) if score > 0 else int(score * scale - 0.499)
        score = max(-h, min(h, score))
        acc = f[3] == "A"
        if acc and score == 63:
            score = 62
        if not 1 <= pos < lengths[ids[f[0]]]:
            continue
        lists[2 * ids[f[0]] + (f[2] == "-")].append(pos << 8 | (score + 64) << 1 | acc)
    return [sorted(x) for x in lists]


def spsc_junc_model(entries, a, b):
    out = [255] * max(0, b - a)
    for e in entries:
        p, v = e >> 8, e & 0xFF
        if a <= p < b and (out[p - a] == 255 or out[p - a] < v):
            out[p - a] = v
    return bytes(out)


# ---- BED ----------------------------------------------------------------------


def test_bed6_line_marks_donor_and_acceptor(tmp_path, capfd):
    db = bed(tmp_path, "chr1\t100\t200\tj1\t0\t+\n")
    assert capfd.readouterr().err == "[M::load_bed_junctions] loaded 1 non-redundant junctions\n"
    assert db.bed_intervals() == [[(100, 200, 1)], [], []]
    out = db.get_junc(0, 50, 250)
    assert len(out) == 200
    assert {i: v for i, v in enumerate(out) if v} == {50: 0x01, 149: 0x02}
    rev = bed(tmp_path, "chr1\t100\t200\tj1\t0\t-\n").get_junc(0, 100, 200, reverse=True)
    assert {i: v for i, v in enumerate(rev) if v} == {0: 0x08, 99: 0x04}


def test_intervals_without_strand_count_but_are_not_marked(tmp_path, capfd):
    db = bed(tmp_path, "chr1\t100\t200\tj1\t0\t.\nchr1\t300\t400\n")
    assert "loaded 2 non-redundant" in capfd.readouterr().err
    assert kept(db) == [(100, 200, 0), (300, 400, 0)]
    assert db.get_junc(0, 0, 1000) == bytes(1000)


@pytest.mark.parametrize(
    "line, introns",
    [
        ("chr1\t1000\t2000\ttx\t0\t+\t1000\t2000\t0\t3\t100,50,80,\t0,300,600,", [(1100, 1300, 1), (1350, 1600, 1)]),
        ("chr1\t1000\t2000\ttx\t0\t-\t1000\t2000\t0\t3\t100,50,80\t0,300,600", [(1100, 1300, -1), (1350, 1600, -1)]),
        ("chr1\t1000\t2000\ttx\t0\t+\t1000\t2000\t0\t1\t100,\t0,", []),  # one block
        ("chr1\t1000\t2000\ttx\t0\t+\t1000\t2000\t0\t3\t100,50,\t0,300,600,", []),  # short sizes
        ("chr1\t1000\t2000\ttx\t0\t+\t1000\t2000\t0\tx\t100,50,80\t0,300,600", []),  # bad count
        ("chr1\t1000\t2000\ttx\t0\t+\t1000\t2000\t0\t2\t100,x,,50\t0,y,300", [(1100, 1300, 1)]),  # junk pieces dropped
        ("chr1\t1000\t2000\ttx\t0\t+\t1000\t2000\t0\t2\t100,50,80\t0,300,600", [(1100, 1300, 1)]),  # extra blocks ignored
        ("chr1\t1000\t2000\ttx\t0\t+\t1000\t2000\t0\t2\t400,50\t0,300", []),  # overlapping blocks
        # Offsets that overflow 32 bits or reach before the target give no intron.
        ("chr1\t1000\t2000\ttx\t0\t+\t1000\t2000\t0\t2\t2147483647,1\t0,2147483647", []),
        ("chr1\t1000\t2000\ttx\t0\t+\t1000\t2000\t0\t2\t1,1\t-3000,2147483000", []),
        ("chr1\t1000\t2000\ttx\t0\t+\t1000\t2000\t0\t2\t1,1\t-1000,-10", [(1, 990, 1)]),
    ],
)
def test_bed12_blocks_become_introns(tmp_path, line, introns):
    assert kept(bed(tmp_path, line + "\n")) == introns


@pytest.mark.parametrize(
    "text, expected",
    [
        # The first line naming an intron decides its strand.
        ("chr1\t100\t200\ta\t0\t-\nchr1\t100\t200\tb\t0\t+\n", [(100, 200, -1)]),
        ("chr1\t300\t400\ta\t0\t+\nchr1\t100\t200\tb\t0\t+\nchr1\t100\t150\n", [(100, 150, 0), (100, 200, 1), (300, 400, 1)]),
        ("track name=x\nbrowser position chr1\n# c\n\nchrX\t1\t5\nchr1\t10\t20\n", [(10, 20, 0)]),
        ("chr1\t10\t20\r\nchr1\t30\t40", [(10, 20, 0), (30, 40, 0)]),  # CRLF, no final LF
        # Coordinates: optional sign, 32-bit range, 0 <= start < end.
        ("chr1\t+10\t+20\nchr1\t-1\t20\nchr1\t20\t20\nchr1\t30\t2147483648\nchr1\t 5\t9\nchr1\t5x\t9\n", [(10, 20, 0)]),
        ("chr1\t0\t2147483647\tn\t0\t+ \n", [(0, 2147483647, 0)]),  # strand must be exact
        ("chr1 10 20\nchr1\t10\n", []),  # spaces do not split
    ],
)
def test_bed_line_rules(tmp_path, text, expected):
    assert kept(bed(tmp_path, text)) == expected


def test_long_lines_across_buffer_boundaries(tmp_path):
    pad = "x" * 20_000
    text = f"chr1\t10\t20\t{pad}\t0\t+\n" * 3 + f"chr2\t5\t9\t{pad}\n"
    assert bed(tmp_path, text).bed_intervals() == [[(10, 20, 1)], [(5, 9, 0)], []]


def test_bed_matches_model_on_random_files(tmp_path):
    rng = random.Random(8)
    tokens = ["+", "-", ".", "", "x", "0", "-5", "2147483647", "2147483648", "+7"]

    def num():
        return str(rng.choice([rng.randint(0, 3000), rng.randint(-50, 50), rng.choice(tokens)]))

    for trial in range(40):
        lines = []
        for _ in range(rng.randint(0, 60)):
            name = rng.choice(NAMES + ["chrZ", "#chr1", "track"])
            f = [name, num(), num(), "n", "0", rng.choice(["+", "-", ".", "x"])]
            kind = rng.random()
            if kind < 0.4:
                f = f[: rng.randint(1, 6)]
            elif kind < 0.9:
                n = rng.randint(0, 5)
                sizes = ",".join(str(rng.randint(-5, 200)) for _ in range(rng.randint(0, 6)))
                starts = ",".join(str(rng.randint(-5, 900)) for _ in range(rng.randint(0, 6)))
                f += ["0", "0", "0", rng.choice([str(n), "+2", "-2", "x"]), sizes + rng.choice(["", ","]), starts]
            lines.append("\t".join(f) + rng.choice(["", "\r"]))
        text = "\n".join(lines)
        db = bed(tmp_path, text)
        model = bed_model(text)
        assert db.bed_intervals() == model
        for _ in range(10):
            tid = rng.randrange(3)
            a = rng.randint(-10, 2000)
            b = a + rng.randint(0, 1500)
            assert db.get_junc(tid, a, b) == bed_junc_model(model[tid], a, b)


# ---- SPSC ---------------------------------------------------------------------


def spsc(tmp_path, text, **kw):
    db = T.load_spsc_scores(write(tmp_path, text), NAMES, LENGTHS, **kw)
    assert not db.is_bed
    return db


def test_spsc_scaled_score_is_read_back(tmp_path, capfd):
    db = spsc(tmp_path, "chr1\t500\t+\tD\t20\n")
    assert capfd.readouterr().err == "[M::load_spsc_scores] loaded 1 splice scores\n"
    assert db.spsc_lists()[0] == [500 << 8 | (14 + 64) << 1]
    out = db.get_junc(0, 400, 600)
    assert out[100] == 156 and out.count(255) == 199
    assert db.get_junc(0, 400, 600, reverse=True) == b"\xff" * 200


@pytest.mark.parametrize(
    "line, scale, max_score, score",
    [
        ("chr1\t500\t+\tD\t-100", 0.7, 20, -20),  # -70 after scaling, then clamped
        ("chr1\t500\t+\tD\t-100", 1.0, 100, -63),  # unscaled, clamped at 63
        ("chr1\t500\t+\tD\t17", 1.0, 20, 17),
        ("chr1\t500\t+\tD\t17", -0.5, 20, 17),
        ("chr1\t500\t+\tD\t0", 0.7, 20, 0),
        ("chr1\t500\t+\tD\t-1", 0.7, 20, -1),  # -0.7 - 0.499 truncates to -1
        ("chr1\t500\t+\tD\t1", 0.3, 20, 0),
        ("chr1\t500\t+\tD\t2147483647", 0.9, 20, 20),
        ("chr1\t500\t+\tD\t5", 0.7, -3, 0),  # a negative bound keeps only 0
        ("chr1\t500\t+\tD\t63", 1.0, 63, 63),
        # An acceptor at +63 would read as "no site" (255): stored as +62.
        ("chr1\t500\t+\tA\t63", 1.0, 63, 62),
    ],
)
def test_spsc_scaling_and_clamping(tmp_path, line, scale, max_score, score):
    db = spsc(tmp_path, line + "\n", scale=scale, max_score=max_score)
    (entry,) = db.spsc_lists()[0]
    assert (entry & 0xFF) >> 1 == score + 64
    assert db.get_junc(0, 499, 501)[1] == entry & 0xFF != 255


@pytest.mark.parametrize(
    "line",
    [
        "chr1\t0\t+\tD\t5", "chr1\t10000\t+\tD\t5", "chr3\t800\t+\tD\t5", "chr1\t-4\t+\tD\t5",
        "chr1\t5\t.\tD\t5", "chr1\t5\t+\td\t5", "chr1\t5\t+\tD\t5.0", "chr1\t5\t+\tD", "chrZ\t5\t+\tD\t5",
        "#chr1\t5\t+\tD\t5", "chr1\t5\t+\tD\t2147483648", "chr1\t99999999999999999999\t+\tD\t5",
    ],
)
def test_spsc_bad_lines_are_skipped(tmp_path, capfd, line):
    db = spsc(tmp_path, line + "\nchr3\t799\t-\tA\t1\n")
    assert "loaded 1 splice scores" in capfd.readouterr().err
    assert [len(x) for x in db.spsc_lists()] == [0, 0, 0, 0, 0, 1]


def test_spsc_best_site_per_position(tmp_path):
    text = "chr2\t10\t+\tD\t5\nchr2\t10\t+\tA\t5\nchr2\t10\t+\tD\t3\nchr2\t11\t+\tD\t-2\nchr2\t11\t+\tA\t-9\n"
    db = spsc(tmp_path, text, scale=1.0)
    out = db.get_junc(1, 10, 12)
    # Equal scores: the acceptor wins; otherwise the highest score.
    assert out == bytes([(5 + 64) << 1 | 1, (-2 + 64) << 1])
    # Sites at the region's first base count; the end is exclusive.
    assert db.get_junc(1, 11, 12) == out[1:]
    assert db.get_junc(1, 9, 11) == b"\xff" + out[:1]
    assert db.get_junc(1, 12, 40) == b"\xff" * 28


def test_get_junc_outside_the_database(tmp_path):
    db = spsc(tmp_path, "chr1\t5\t+\tD\t5\n")
    assert db.get_junc(7, 0, 10) == b"\xff" * 10
    assert db.get_junc(0, 10, 10) == b"" and db.get_junc(0, 10, 3) == b""
    assert db.get_junc(0, -5, 6)[10] != 255
    b = bed(tmp_path, "chr1\t1\t3\tn\t0\t+\n")
    assert b.get_junc(9, 0, 4) == bytes(4)
    assert b.get_junc(0, 2**40, 2**40 + 3) == bytes(3)


def test_spsc_matches_model_on_random_files(tmp_path):
    rng = random.Random(9)
    for trial in range(40):
        lines = []
        for _ in range(rng.randint(0, 80)):
            f = [
                rng.choice(NAMES + ["chrQ"]),
                str(rng.choice([rng.randint(-2, 900), rng.randint(0, 12000)])),
                rng.choice("+-+-."),
                rng.choice("DADAx"),
                rng.choice([str(rng.randint(-120, 120)), "y", "+3"]),
            ]
            lines.append("\t".join(f[: rng.choice([5, 5, 5, 4])]))
        text = "\n".join(lines) + "\n"
        scale = rng.choice([0.7, 0.5, 1.0, -1.0, 0.0])
        max_score = rng.choice([20, 5, 63, 80])
        db = spsc(tmp_path, text, scale=scale, max_score=max_score)
        # float32 scale widened to double, as the loader computes
        s32 = struct.unpack("f", struct.pack("f", scale))[0]
        model = spsc_model(text, s32, max_score)
        assert db.spsc_lists() == model
        for _ in range(10):
            li = rng.randrange(6)
            a = rng.randint(-5, 900)
            b = a + rng.randint(0, 400)
            assert db.get_junc(li // 2, a, b, reverse=bool(li % 2)) == spsc_junc_model(model[li], a, b)


# ---- errors -------------------------------------------------------------------

LOADERS = [
    lambda p: T.load_bed_junctions(p, NAMES),
    lambda p: T.load_spsc_scores(p, NAMES, LENGTHS),
]


@pytest.mark.parametrize("load", LOADERS, ids=["bed", "spsc"])
def test_io_errors_carry_the_system_message(tmp_path, capfd, load):
    with pytest.raises(OSError) as e:
        load(tmp_path / "missing.bed")
    assert str(e.value) == os.strerror(errno.ENOENT)
    with pytest.raises(OSError) as e:
        load(tmp_path)  # opens, then reading a directory fails
    assert str(e.value) == os.strerror(errno.EISDIR)
    # A line that is not UTF-8 is a read error, even after good lines.
    p = write(tmp_path, b"chr1\t10\t20\t+\tD\t5\nchr1\t\xff\xfe\n")
    with pytest.raises(OSError, match="UTF-8"):
        load(p)
    assert capfd.readouterr().err == ""


@pytest.mark.parametrize(
    "raw, ok",
    [(b"\xc3\xa9", True), (b"\xf0\x9f\x98\x80", True), (b"\xc0\xaf", False), (b"\xed\xa0\x80", False),
     (b"\xf4\x90\x80\x80", False), (b"\xe2\x82", False), (b"\x80", False)],
)
def test_utf8_validation(tmp_path, raw, ok):
    p = write(tmp_path, b"# " + raw + b"\nchr1\t1\t2\n")
    if ok:
        assert kept(T.load_bed_junctions(p, NAMES)) == [(1, 2, 0)]
    else:
        with pytest.raises(OSError):
            T.load_bed_junctions(p, NAMES)


def test_empty_name_map_and_later_duplicate_name(tmp_path):
    p = write(tmp_path, "chr1\t1\t2\n")
    assert T.load_bed_junctions(p, []).bed_intervals() == []
    # Two targets named alike: the later id wins.
    assert T.load_bed_junctions(p, ["chr1", "chr1"]).bed_intervals() == [[], [(1, 2, 0)]]
