"""tessiqpy: sequence mapping and alignment with a fast C++ core.

Every public member of the compiled module ``tessiqpy._tessiqpy`` is
re-exported here; the stand-alone sketchers are also in ``tessiqpy.sketch``.
"""

from . import _tessiqpy
from ._tessiqpy import *  # noqa: F401,F403  (members grow with __all__)
from ._tessiqpy import FatalError

__all__ = list(_tessiqpy.__all__) + ["FatalError"]
__version__ = "0.1.0"
