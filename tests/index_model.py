"""A plain Python model of the reference index and writers for both index
file layouts, used as oracles and to craft corrupt files."""

import struct

import models

NT4 = {ord(c): i for i, c in enumerate("ACGT")}
NT4.update({ord(c): i for i, c in enumerate("acgt")})


def nt4(b):
    return NT4.get(b, 4)


def pack(seqs):
    """Packed 4-bit words of the concatenated sequences, lowest nibble first."""
    codes = [nt4(b) for s in seqs for b in s]
    words = [0] * ((len(codes) + 7) // 8)
    for p, c in enumerate(codes):
        words[p // 8] |= c << (4 * (p % 8))
    return words


def build(seqs, w=10, k=15, is_hpc=False, max_occ=50000):
    """The index built from (name, sequence) byte pairs, as a field dict."""
    targets, off = [], 0
    for name, s in seqs:
        targets.append((name.decode("utf-8", "replace"), len(s), off, False))
        off += len(s)
    b = min(2 * k, 10)
    mask = (1 << b) - 1
    lists = [[] for _ in range(1 << b)]
    for rid, (_, s) in enumerate(seqs):
        if is_hpc:
            s = s.upper()
        for x, y in models.minimizers(s, w, k, rid, is_hpc) if s else []:
            lists[(x >> 8) & mask].append((x >> 8, y))
    buckets, positions = [], []
    for lst in lists:
        lst.sort()
        runs = {}
        for h, y in lst:
            runs.setdefault(h, []).append(y)
        bucket = {}
        for h in sorted(runs):
            ys = runs[h]
            if len(ys) <= max_occ:
                bucket[h >> b] = len(ys) | (len(positions) << 32)
                positions.extend(ys)
        buckets.append(bucket)
    return {
        "kmer_size": k,
        "window_size": w,
        "homopolymer_compressed": is_hpc,
        "index": 0,
        "seqs": targets,
        "bucket_bits": b,
        "buckets": buckets,
        "positions": positions,
        "packed_seqs": pack([s for _, s in seqs]),
    }


def occurrences(fields, h):
    """Records of hash h under the lookup rule (bucket by low bits, key above)."""
    b = fields["bucket_bits"]
    v = fields["buckets"][h & ((1 << b) - 1)].get(h >> b)
    if v is None:
        return []
    n, s = v & 0xFFFFFFFF, v >> 32
    return fields["positions"][s : s + n]


# ---- own format ---------------------------------------------------------------


def write_own(f, magic=True, names=None, variant=0, n_buckets=None, bool_byte=None):
    """Own-format bytes of a field dict. `names` overrides the name bytes;
    `n_buckets` the stored bucket count; `bool_byte` the hpc flag byte."""
    out = bytearray(b"TMMI" if magic else b"")
    hpc = int(f["homopolymer_compressed"]) if bool_byte is None else bool_byte
    out += struct.pack("<QQBQQ", f["kmer_size"], f["window_size"], hpc, f["index"], len(f["seqs"]))
    for i, (name, length, offset, is_alt) in enumerate(f["seqs"]):
        raw = names[i] if names else name.encode()
        out += struct.pack("<Q", len(raw)) + raw + struct.pack("<QQB", length, offset, int(is_alt))
    buckets = f["buckets"]
    out += struct.pack("<IIQ", variant, f["bucket_bits"], len(buckets) if n_buckets is None else n_buckets)
    for bucket in buckets:
        items = list(bucket.items()) if isinstance(bucket, dict) else list(bucket)
        out += struct.pack("<Q", len(items))
        for key, value in items:
            out += struct.pack("<QQ", key, value)
    out += struct.pack("<Q", len(f["positions"]))
    out += struct.pack(f"<{len(f['positions'])}Q", *f["positions"])
    out += struct.pack("<Q", len(f["packed_seqs"]))
    out += struct.pack(f"<{len(f['packed_seqs'])}I", *f["packed_seqs"])
    return bytes(out)


# ---- foreign format -------------------------------------------------------------


def write_foreign(w, k, b, flags, targets, buckets, words=None):
    """Foreign index bytes. targets: (name bytes, length); buckets: 2^b pairs
    of (position list, [(key, value)]); words: packed bases or None."""
    out = bytearray(b"MMI\x02")
    out += struct.pack("<5I", w, k, b, len(targets), flags)
    for name, length in targets:
        out += bytes([len(name)]) + name + struct.pack("<I", length)
    assert len(buckets) == 1 << b
    for pos, entries in buckets:
        out += struct.pack("<I", len(pos)) + struct.pack(f"<{len(pos)}Q", *pos)
        out += struct.pack("<I", len(entries))
        for key, value in entries:
            out += struct.pack("<QQ", key, value)
    if words is not None:
        out += struct.pack(f"<{len(words)}I", *words)
    return bytes(out)


def to_foreign(f, names, singletons=True, with_bases=True):
    """The foreign layout of a model index: each bucket gets its own position
    list; a hash seen once becomes a singleton entry (key bit 0 set)."""
    b = f["bucket_bits"]
    buckets = []
    for bucket in f["buckets"]:
        pos, entries = [], []
        for key in sorted(bucket):
            v = bucket[key]
            n, s = v & 0xFFFFFFFF, v >> 32
            recs = f["positions"][s : s + n]
            if n == 1 and singletons:
                entries.append(((key << 1) | 1, recs[0]))
            else:
                entries.append((key << 1, n | (len(pos) << 32)))
                pos.extend(recs)
        buckets.append((pos, entries))
    targets = [(name, length) for name, (_, length, _, _) in zip(names, f["seqs"])]
    flags = int(f["homopolymer_compressed"]) | (0 if with_bases else 2)
    words = f["packed_seqs"] if with_bases and f["packed_seqs"] else None
    return write_foreign(f["window_size"], f["kmer_size"], b, flags, targets, buckets, words)
