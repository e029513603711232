"""Reads with known origin for the mapping benchmarks: Debian's pbsim (CLR and
CCS models) and art_illumina (150 bp), run on a plain FASTA reference.

Each simulate_* function returns a list of (name, sequence, truth) where truth
is (target name, start, end) on the forward target strand.
"""

import gzip
import pathlib
import shutil
import subprocess
import tempfile

import tessiqpy

DATA = pathlib.Path(__file__).resolve().parent / "data"
RAGOUT = DATA / "deb/root/usr/share/doc/ragout/examples"
# One reference per species: four distinct bacteria, about 13 Mb.
MIX4 = ["E.Coli/references/MG1655-K12", "S.Aureus/references/COL", "V.Cholerae/references/O395",
        "H.Pylori/references/G27"]


def require(*tools):
    missing = [t for t in tools if not shutil.which(t)]
    if missing:
        raise SystemExit(f"missing {', '.join(missing)}: apt-get install pbsim art-nextgen-simulation-tools")


def plain_fasta(name):
    """bench/data/<name>.fa, written from the gzip sources on first use."""
    out = DATA / f"{name}.fa"
    if out.exists():
        return out
    if name == "ecoli":
        sources = [DATA / "ecoli.fa.gz"]
    elif name == "mix4":
        sources = [RAGOUT / f"{p}.fasta.gz" for p in MIX4]
        if not all(s.exists() for s in sources):
            raise SystemExit("missing ragout-examples: run bench/fetch_index_data.sh")
    else:
        raise ValueError(name)
    with open(out, "wb") as fh:
        for src in sources:
            with gzip.open(src) as g:
                shutil.copyfileobj(g, fh)
    return out


def load_reference(path):
    """[(name bytes, sequence bytes)], names cut at the first blank."""
    return [(n.split()[0].encode(), s) for n, s in tessiqpy.read_fasta(str(path))]


def _fastq(path):
    return [(r.name, r.sequence) for r in tessiqpy.FastxReader(str(path))]


def simulate_pbsim(ref, kind, n_reads, seed=1, accuracy=0.88, length=3000):
    """pbsim reads: kind "CLR" (mean accuracy `accuracy`) or "CCS"."""
    require("pbsim")
    total = sum(len(s) for _, s in load_reference(ref))
    model = "model_qc_clr" if kind == "CLR" else "model_qc_ccs"
    mean = length if kind == "CLR" else 2000
    depth = max(n_reads * mean / total, 0.01)
    args = ["pbsim", "--data-type", kind, "--depth", f"{depth:.4f}", "--model_qc",
            f"/usr/share/pbsim/models/{model}", "--length-mean", str(mean), "--seed", str(seed)]
    if kind == "CLR":
        args += ["--accuracy-mean", str(accuracy), "--length-sd", str(mean // 2)]
    else:
        args += ["--length-sd", "500", "--length-max", "5000"]
    reads = []
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(args + ["--prefix", f"{tmp}/sim", str(ref)], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for maf in sorted(pathlib.Path(tmp).glob("sim_*.maf")):
            truth = {}
            lines = [l for l in maf.read_text().splitlines() if l.startswith("s ")]
            for ref_line, read_line in zip(lines[::2], lines[1::2]):
                # the source name may contain blanks: take numbers from the right
                r = ref_line.split()
                q = read_line.split()
                start, size = int(r[-5]), int(r[-4])
                truth[q[1]] = (r[1], start, start + size)
            for name, seq in _fastq(maf.with_suffix(".fastq")):
                reads.append((name, seq, truth[name]))
    return reads


def simulate_art(ref, n_reads, seed=1, length=150):
    """Single-end art_illumina reads (HiSeq 2500 profile)."""
    require("art_illumina")
    total = sum(len(s) for _, s in load_reference(ref))
    fold = max(n_reads * length / total, 0.001)
    reads = []
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(["art_illumina", "-ss", "HS25", "-i", str(ref), "-l", str(length), "-f",
                        f"{fold:.5f}", "-o", f"{tmp}/sr", "-sam", "-na", "-rs", str(seed)],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        truth = {}
        for line in open(f"{tmp}/sr.sam"):
            if line.startswith("@"):
                continue
            f = line.split("\t")
            pos = int(f[3]) - 1
            truth[f[0]] = (f[2], pos, pos + len(f[9]))
        for name, seq in _fastq(f"{tmp}/sr.fq"):
            reads.append((name, seq, truth[name]))
    return reads


def real_nanopore_reads():
    """Every read of Debian's qcat-examples (run bench/fetch_data.sh first)."""
    reads = []
    for path in sorted((DATA / "nanopore").glob("*.fastq.gz")):
        reads += _fastq(path)
    if not reads:
        raise SystemExit("missing nanopore reads: run bench/fetch_data.sh")
    return reads
