"""Plain-Python models of the sequence readers, written from their documented
rules line by line, as independent oracles for the compiled parsers."""

from __future__ import annotations

# Unicode White_Space: where a reader header splits into name and description.
UNICODE_SPACE = set(
    "\t\n\x0b\x0c\r \x85\xa0\u1680\u2028\u2029\u202f\u205f\u3000"
    + "".join(chr(c) for c in range(0x2000, 0x200B))
)
# Whitespace of the streamers: tab, LF, FF, CR, space (no vertical tab).
STREAM_SPACE = b"\t\n\x0c\r "


def lines_of(data: bytes) -> list[bytes]:
    """Lines split at "\\n" only, each keeping its line end."""
    parts = data.split(b"\n")
    lines = [p + b"\n" for p in parts[:-1]]
    if parts[-1]:
        lines.append(parts[-1])
    return lines


def trim_newline(line: bytes) -> bytes:
    if line.endswith(b"\r\n"):
        return line[:-2]
    if line.endswith(b"\n"):
        return line[:-1]
    return line


def rna_to_dna(seq: bytes) -> bytes:
    return seq.replace(b"U", b"T").replace(b"u", b"t")


def split_header(line: bytes) -> tuple[str, str | None]:
    text = trim_newline(line)[1:].decode("utf-8", "replace")
    for i, ch in enumerate(text):
        if ch in UNICODE_SPACE:
            return text[:i], text[i + 1 :]
    return text, None


class UnknownFormat(Exception):
    pass


def model_reader(data: bytes) -> list[tuple[str, str | None, bytes, bytes | None]]:
    """Records of FastxReader; raises UnknownFormat where it raises ValueError."""
    if not data or data[:1] not in (b">", b"@"):
        raise UnknownFormat
    lines = lines_of(data)
    out = []
    i = 0
    if data[:1] == b">":
        while i < len(lines) and lines[i].startswith(b">"):
            name, desc = split_header(lines[i])
            i += 1
            seq = b""
            while i < len(lines) and not lines[i].startswith(b">"):
                seq += trim_newline(lines[i])
                i += 1
            out.append((name, desc, rna_to_dna(seq), None))
        return out
    while True:
        while i < len(lines) and not lines[i].startswith(b"@"):
            i += 1
        if i + 3 >= len(lines):
            return out  # no header, or a record cut short: dropped
        name, desc = split_header(lines[i])
        seq, qual = trim_newline(lines[i + 1]), trim_newline(lines[i + 3])
        out.append((name, desc, rna_to_dna(seq), qual))
        i += 4


def _stream_lines(data: bytes) -> list[bytes]:
    parts = data.split(b"\n")
    lines = parts[:-1] + ([parts[-1]] if parts[-1] else [])  # finalize flushes the rest
    return [ln[:-1] if ln.endswith(b"\r") else ln for ln in lines]


def _stream_name(line: bytes) -> str:
    rest = line[1:]
    n = 0
    while n < len(rest) and rest[n] not in STREAM_SPACE:
        n += 1
    return rest[:n].decode("utf-8", "replace")


def _stream_seq(line: bytes, rna: bool) -> bytes:
    seq = bytes(b for b in line if b not in STREAM_SPACE)
    return rna_to_dna(seq) if rna else seq


def model_fasta_stream(data: bytes, rna: bool = True) -> list[tuple[str, bytes]]:
    out, name, seq = [], None, b""
    for line in _stream_lines(data):
        if not line:
            continue
        if line.startswith(b">"):
            if name is not None:
                out.append((name, seq))
            name, seq = _stream_name(line), b""
        elif name is not None:
            seq += _stream_seq(line, rna)
    if name is not None:
        out.append((name, seq))
    return out


def model_fastq_stream(data: bytes, rna: bool = True) -> list[tuple[str, bytes]]:
    out, state, name, seq, remaining = [], 0, None, b"", 0
    for line in _stream_lines(data):
        if state == 0:
            if line.startswith(b"@"):
                name, seq, state = _stream_name(line), b"", 1
        elif state == 1:
            seq += _stream_seq(line, rna)
            state = 2
        elif state == 2:
            remaining = len(seq)
            if remaining == 0:
                out.append((name, seq))
                state = 0
            else:
                state = 3
        elif len(line) < remaining:
            remaining -= len(line)
        else:
            out.append((name, seq))
            state = 0
    if state in (2, 3):
        out.append((name, seq))
    return out


def model_parse_fasta_bytes(data: bytes) -> list[tuple[str, bytes]]:
    start = data.find(b">")
    if start < 0:
        return []
    out, name, seq = [], None, b""
    for line in data[start:].split(b"\n"):
        if line.endswith(b"\r"):
            line = line[:-1]
        if line.startswith(b">"):
            if name:
                out.append((name, seq))
            header = line[1:]
            cut = min((i for i in (header.find(b" "), header.find(b"\t")) if i >= 0),
                      default=len(header))
            name, seq = header[:cut].decode("utf-8", "replace"), b""
        else:
            seq += line.upper()
    if name:
        out.append((name, seq))
    return out
