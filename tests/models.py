"""Plain Python models of the sketchers, written for readability, used as
oracles for the compiled code."""

ALL = (1 << 64) - 1
CODE = {ord(c): i for i, c in enumerate("ACGT")}
CODE.update({ord(c): i for i, c in enumerate("acgt")})


def code_of(b):
    return CODE.get(b, 4)


def kmer_hash(key, k):
    mask = (1 << (2 * k)) - 1
    m64 = (1 << 64) - 1
    h = ((key << 21) + (~key & m64)) & m64 & mask
    h ^= h >> 24
    h = (h * 265) & mask
    h ^= h >> 14
    h = (h * 21) & mask
    h ^= h >> 28
    h = (h + (h << 31)) & mask
    return h


def minimizers(seq, w, k, rid=0, is_hpc=False):
    """Windowed minimizers, (x, y) pairs in emission order."""
    n = len(seq)
    out = []
    if n == 0:
        return out
    assert 0 < w < 256 and 0 < k <= 28
    mask = (1 << (2 * k)) - 1
    shift = 2 * (k - 1)
    fwd = rev = 0
    l = 0
    span = 0
    runs = []
    buf = [(ALL, ALL)] * w
    buf_pos = 0
    mn = (ALL, ALL)
    min_pos = 0

    def ties(order):
        for j in order:
            if buf[j][0] == mn[0] and buf[j][1] != mn[1]:
                out.append(buf[j])

    i = 0
    while i < n:
        c = code_of(seq[i])
        info = (ALL, ALL)
        if c < 4:
            if is_hpc:
                run = 1
                while i + run < n and seq[i + run] == seq[i]:
                    run += 1
                i += run - 1
                runs.append(run)
                span += run
                if len(runs) > k:
                    span -= runs.pop(0)
            else:
                span = min(l + 1, k)
            fwd = ((fwd << 2) | c) & mask
            rev = (rev >> 2) | ((3 ^ c) << shift)
            if fwd == rev:
                i += 1
                continue
            strand = 0 if fwd < rev else 1
            l += 1
            if l >= k and span < 256:
                info = ((kmer_hash(min(fwd, rev), k) << 8) | span, (rid << 32) | (i << 1) | strand)
        else:
            l = 0
            span = 0
            runs = []
        buf[buf_pos] = info
        if l == w + k - 1 and mn[0] != ALL:
            ties(list(range(buf_pos + 1, w)) + list(range(buf_pos)))
        if info[0] <= mn[0]:
            if l >= w + k and mn[0] != ALL:
                out.append(mn)
            mn, min_pos = info, buf_pos
        elif buf_pos == min_pos:
            if l >= w + k - 1 and mn[0] != ALL:
                out.append(mn)
            mn = (ALL, mn[1])
            for j in list(range(buf_pos + 1, w)) + list(range(buf_pos + 1)):
                if buf[j][0] <= mn[0]:
                    mn, min_pos = buf[j], j
            if l >= w + k - 1 and mn[0] != ALL:
                ties(list(range(buf_pos + 1, w)) + list(range(buf_pos + 1)))
        buf_pos = (buf_pos + 1) % w
        i += 1
    if mn[0] != ALL:
        out.append(mn)
    return out


def valid_kmers(seq, k):
    """(start, fwd, rev) for every k-mer without an ambiguous base."""
    mask = (1 << (2 * k)) - 1
    fwd = rev = count = 0
    for j, b in enumerate(seq):
        c = code_of(b)
        if c == 4:
            fwd = rev = count = 0
            continue
        count += 1
        fwd = ((fwd << 2) | c) & mask
        rev = (rev >> 2) | ((3 - c) << (2 * k - 2))
        if count >= k:
            yield j - k + 1, fwd, rev


def syncmers(seq, k, s):
    smask = (1 << (2 * s)) - 1
    out = []
    for start, fwd, rev in valid_kmers(seq, k):
        hf, hr = kmer_hash(fwd, k), kmer_hash(rev, k)
        chosen = rev if hr < hf else fwd
        hashes = []
        for o in range(k - s + 1):
            v = (chosen >> (2 * o)) & smask
            h = ((v ^ (v >> 16)) * 73244475) & smask
            h = ((h ^ (h >> 16)) * 73244475) & smask
            hashes.append(h ^ (h >> 16))
        best = hashes.index(min(hashes))
        if best in (0, k - s):
            out.append(((min(hf, hr) << 8) | k, (start << 1) | int(hr < hf)))
    return out


def splitmix(z):
    m = (1 << 64) - 1
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & m
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & m
    return z ^ (z >> 31)


def randstrobes(seq, k, w_min, w_max):
    n = len(seq)
    if n < k + w_max:
        return []
    m = (1 << 64) - 1
    kmers = {}
    for start, fwd, rev in valid_kmers(seq, k):
        hf, hr = kmer_hash(fwd, k), kmer_hash(rev, k)
        kmers[start] = (min(hf, hr), int(hr < hf))
    out = []
    for p in range(n - k - w_max + 1):
        if p not in kmers:
            continue
        cands = [
            (splitmix(kmers[p][0] ^ ((kmers[q][0] * 0x9E3779B97F4A7C15) & m)), q)
            for q in range(p + w_min, p + w_max + 1)
            if q in kmers
        ]
        if not cands:
            continue
        best, q = min(cands)
        if best == m:
            continue
        out.append((((best << 8) & m) | min(k + q - p, 255), (p << 1) | kmers[p][1]))
    return out
