#!/usr/bin/env bash
# Fetches the real inputs used by the benchmarks and the data-driven tests
# into bench/data/ (never committed): the E. coli genome from Debian's
# bowtie-examples and real nanopore reads from qcat-examples.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
data="$here/data"
mkdir -p "$data/deb"
cd "$data/deb"
for pkg in bowtie-examples qcat-examples; do
  if ! ls "${pkg}"_*.deb >/dev/null 2>&1; then
    apt-get download "$pkg" 2>/dev/null || { apt-get update -qq && apt-get download "$pkg"; }
  fi
  dpkg-deb -x "${pkg}"_*.deb "$data/deb/root"
done
root="$data/deb/root/usr/share/doc"
ln -sfr "$root/bowtie/examples/genomes/NC_008253.fna.gz" "$data/ecoli.fa.gz"
mkdir -p "$data/nanopore"
for f in "$root"/qcat/examples/qcat/test/data/*.fastq.gz; do
  ln -sfr "$f" "$data/nanopore/$(basename "$f")"
done
echo "data in $data"
