"""Stand-alone sketchers: minimizers, syncmers and randstrobes.

>>> from tessiqpy.sketch import MinimizerSketcher
>>> [m.y >> 1 for m in MinimizerSketcher(k=5, w=1).sketch(b"ACGTTGCAAC")][:2]
[4, 5]
"""

from ._tessiqpy import Minimizer, MinimizerSketcher, RandstrobeSketcher, SyncmerSketcher

__all__ = ["Minimizer", "MinimizerSketcher", "SyncmerSketcher", "RandstrobeSketcher"]
