import pytest

try:
    import tessiqpy._tessiqpy  # noqa: F401
except ImportError as exc:  # the source folder shadows the installed package
    raise pytest.UsageError(
        "tessiqpy is not installed (or the source folder shadows it): run `pip install .` "
        f"and start pytest with the `pytest` command from the repository root ({exc})"
    )
