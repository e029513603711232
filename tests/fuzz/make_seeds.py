"""Writes small own-format and foreign index files as fuzz seeds."""

import pathlib
import random
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
import index_model as M  # noqa: E402

out = pathlib.Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)
rng = random.Random(1)
for i, (w, k, hpc) in enumerate([(3, 2, False), (2, 3, True), (5, 1, False), (1, 2, False)]):
    seqs = [(b"a", bytes(rng.choice(b"ACGTN") for _ in range(rng.randint(0, 40)))),
            (b"b\xff", bytes(rng.choice(b"ACGT") for _ in range(rng.randint(1, 30)))),
            (b"", b"")]
    f = M.build(seqs, w, k, hpc, 3)
    (out / f"own{i}").write_bytes(M.write_own(f))
    (out / f"nomagic{i}").write_bytes(M.write_own(f, magic=False))
    names = [n for n, _ in seqs]
    (out / f"foreign{i}").write_bytes(M.to_foreign(f, names, singletons=i % 2 == 0))
    (out / f"foreign_nobases{i}").write_bytes(M.to_foreign(f, names, with_bases=False))
