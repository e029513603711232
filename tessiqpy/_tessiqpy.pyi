"""Type stubs for the compiled module tessiqpy._tessiqpy."""

__all__: list[str]

class FatalError(BaseException):
    """Raised when internal code called from Python hits a fatal error."""

# ---- sketching

class Minimizer:
    """A k-mer sketch record: hash and span in ``x``; id, position, strand in ``y``."""

    @property
    def x(self) -> int: ...
    @property
    def y(self) -> int: ...

class MinimizerSketcher:
    def __init__(self, k: int, w: int) -> None: ...
    def sketch(self, seq: bytes) -> list[Minimizer]: ...

class SyncmerSketcher:
    def __init__(self, k: int, s: int) -> None: ...
    def sketch(self, seq: bytes) -> list[Minimizer]: ...

class RandstrobeSketcher:
    def __init__(self, k: int, w_min: int, w_max: int) -> None: ...
    def sketch(self, seq: bytes) -> list[Minimizer]: ...
