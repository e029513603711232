#!/usr/bin/env bash
# Fetches the larger reference for the index benchmark into bench/data/:
# every genome and assembly of Debian's ragout-examples (E. coli, H. pylori,
# S. aureus and V. cholerae strains, about 60 Mb in several hundred
# targets), concatenated into bench/data/bacteria.fa.gz. The E. coli genome
# alone comes from bench/fetch_data.sh.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
data="$here/data"
mkdir -p "$data/deb"
cd "$data/deb"
pkg=ragout-examples
if ! ls "${pkg}"_*.deb >/dev/null 2>&1; then
  apt-get download "$pkg" 2>/dev/null || { apt-get update -qq && apt-get download "$pkg"; }
fi
dpkg-deb -x "${pkg}"_*.deb "$data/deb/root"
find "$data/deb/root/usr/share/doc/ragout/examples" -name '*.fasta.gz' | sort \
  | xargs cat > "$data/bacteria.fa.gz"
echo "data in $data"
