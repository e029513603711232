"""Instructions beyond baseline x86-64 may appear only in the kernels built
for them. A shared inline function or template instantiated in a vector unit
could otherwise be merged at link time with its AVX code and crash older CPUs.
Checked on the unstripped core library of the build tree."""

import pathlib
import re
import shutil
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
LIBS = sorted(ROOT.glob("build/*/core/libtessiq-core.so"))
# Functions that may hold wider instructions: per-instruction-set kernels and
# compiler clones.
ALLOWED = re.compile(r"avx2|avx512|sse41|41_impl|\[clone \.(avx|arch_|sse4)")
# Registers and mnemonics that baseline x86-64 (SSE2) lacks.
WIDE = re.compile(r"%[yz]mm|%k[0-7]\b|\b(pblendvb|blendvp[sd]|pminsd|pmaxsd|pminud|pmaxud|pmulld|"
                  r"ptest|pextr[bdq]|pinsr[bdq]|pmovzx|pmovsx|pabs[bwd]|pshufb|roundp[sd]|popcnt|lzcnt|tzcnt)\b")


@pytest.mark.skipif(not LIBS or not shutil.which("objdump"), reason="needs the build tree and objdump")
def test_wide_instructions_only_in_kernels():
    text = subprocess.run(["objdump", "-d", "-C", "--no-show-raw-insn", str(LIBS[-1])],
                          capture_output=True, text=True, check=True).stdout
    offenders = set()
    function = "?"
    for line in text.splitlines():
        m = re.match(r"^[0-9a-f]+ <(.*)>:$", line)
        if m:
            function = m.group(1)
        elif WIDE.search(line) and not ALLOWED.search(function):
            offenders.add(function)
    assert not offenders, sorted(offenders)[:20]
