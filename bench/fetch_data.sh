#!/usr/bin/env bash
# Fetches the real example files used by tests and benchmarks into bench/data/
# (never committed): Debian's bowtie-examples (E. coli genome, FASTA.gz) and
# qcat-examples (nanopore reads, FASTQ.gz). Safe to run again.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
data="$here/data"
mkdir -p "$data"
work="$(mktemp -d)"
chmod 755 "$work"  # apt downloads as its own user
trap 'rm -rf "$work"' EXIT

have() { [ -s "$data/$1" ]; }

if ! have NC_008253.fna.gz || ! have nobarcode_1k.fastq.gz; then
    (cd "$work" && apt-get download bowtie-examples qcat-examples >/dev/null)
    for deb in "$work"/*.deb; do dpkg-deb -x "$deb" "$work/x"; done
    cp "$work/x/usr/share/doc/bowtie/examples/genomes/NC_008253.fna.gz" "$data/"
    cp "$work"/x/usr/share/doc/qcat/examples/qcat/test/data/*.fastq.gz "$data/"
fi
# Stable names the benchmarks use.
ln -sf NC_008253.fna.gz "$data/ecoli.fa.gz"
mkdir -p "$data/nanopore"
for f in "$data"/*.fastq.gz; do ln -sf "../$(basename "$f")" "$data/nanopore/$(basename "$f")"; done
ls -l "$data"
