"""The module frame: members, conventions shared by every class, argument
conversion, fatal errors, the access guard and the worker pool."""

import doctest
import os
import pathlib
import threading

import pytest

import tessiqpy
import tessiqpy._tessiqpy as M
import tessiqpy._testing as T

# Members present so far, in registration order; later groups append.
SKETCH_GROUP = ["Minimizer", "MinimizerSketcher", "SyncmerSketcher", "RandstrobeSketcher"]


def test_all_lists_members_in_registration_order():
    names = list(M.__all__)
    assert names[names.index("Minimizer"):][:4] == SKETCH_GROUP
    assert len(names) == len(set(names))
    for name in names:
        obj = getattr(M, name)
        assert obj.__module__ == "tessiqpy._tessiqpy"
        if isinstance(obj, type):
            assert obj.__name__ == obj.__qualname__ == name
    # the package re-exports everything, plus the exception class
    assert set(names) <= set(tessiqpy.__all__)
    assert "FatalError" not in M.__all__
    assert "_testing" not in tessiqpy.__all__


@pytest.mark.parametrize(
    "cls,signature",
    [
        (M.MinimizerSketcher, "(k, w)"),
        (M.SyncmerSketcher, "(k, s)"),
        (M.RandstrobeSketcher, "(k, w_min, w_max)"),
    ],
)
def test_classes_expose_text_signatures(cls, signature):
    assert cls.__text_signature__ == signature
    assert cls.__doc__.startswith("A sketcher that extracts")
    assert cls.sketch.__doc__.startswith("sketch(self, seq: bytes) -> list[Minimizer]\n\nExtract ")


def test_docstring_examples_run():
    import tessiqpy.sketch as sketch

    finder = doctest.DocTestFinder()
    runner = doctest.DocTestRunner()
    for obj in (sketch, M.MinimizerSketcher, M.SyncmerSketcher, M.RandstrobeSketcher):
        for test in finder.find(obj, module=False):
            runner.run(test)
    assert runner.failures == 0 and runner.tries >= 4


def test_sketch_module_reexports():
    import tessiqpy.sketch as sketch

    assert sketch.MinimizerSketcher is M.MinimizerSketcher
    assert sketch.__all__ == SKETCH_GROUP


# ---- fatal errors ----------------------------------------------------------


def test_fatal_error_is_not_an_exception():
    assert issubclass(tessiqpy.FatalError, BaseException)
    assert not issubclass(tessiqpy.FatalError, Exception)
    assert tessiqpy.FatalError.__bases__ == (BaseException,)
    assert "BaseException" in tessiqpy.FatalError.__doc__
    caught_by_exception = False
    try:
        try:
            M.SyncmerSketcher(0, 1)
        except Exception:
            caught_by_exception = True
    except tessiqpy.FatalError as e:
        assert str(e) == "k must be 1..=28"
    assert not caught_by_exception


def test_fatal_error_in_pool_task_reaches_caller():
    with pytest.raises(tessiqpy.FatalError, match="^task 37 failed$"):
        T.pool_map(100, 37)
    # the pool keeps working afterwards
    assert T.pool_map(50) == [i * i for i in range(50)]


# ---- argument conversion ---------------------------------------------------


@pytest.mark.parametrize(
    "value,expected",
    [(0, 0), (2**64 - 1, 2**64 - 1), (True, 1)],
)
def test_unsigned_conversion_accepts(value, expected):
    assert T.convert_u64(value) == expected


@pytest.mark.parametrize(
    "value,exc",
    [(-1, OverflowError), (2**64, OverflowError), (1.0, TypeError), ("1", TypeError), (None, TypeError)],
)
def test_unsigned_conversion_rejects(value, exc):
    with pytest.raises(exc):
        T.convert_u64(value)


def test_u32_conversion_range():
    assert T.convert_u32(2**32 - 1) == 2**32 - 1
    with pytest.raises(OverflowError):
        T.convert_u32(2**32)


def test_path_conversion(tmp_path):
    assert T.convert_path("a/b.fa", True) == b"a/b.fa"
    assert T.convert_path(pathlib.Path("x") / "y", True) == b"x/y"
    assert T.convert_path("caf\u00e9", True) == "caf\u00e9".encode()

    class P:
        def __fspath__(self):
            return "custom"

    assert T.convert_path(P(), True) == b"custom"


def test_path_conversion_errors():
    undecodable = os.fsdecode(b"bad\xffname")  # carries a surrogate escape
    with pytest.raises(ValueError, match="^Invalid path string$"):
        T.convert_path(undecodable, True)
    # without the UTF-8 requirement the raw file-system bytes pass through
    assert T.convert_path(undecodable, False) == b"bad\xffname"
    with pytest.raises(TypeError):
        T.convert_path(b"bytes/path", True)

    class BytesPath:
        def __fspath__(self):
            return b"x"

    for bad in (BytesPath(), 3, None):
        with pytest.raises(TypeError):
            T.convert_path(bad, True)


def test_pair_list_conversion():
    items = [(b"a", b"ACGT"), (b"b", b"")]
    assert T.convert_pairs(items) == items
    assert T.convert_pairs(tuple(items)) == items
    assert T.convert_pairs([]) == []
    with pytest.raises(TypeError, match="str"):
        T.convert_pairs("ACGT")
    with pytest.raises(ValueError, match="^expected tuple of length 2, but got tuple of length 3$"):
        T.convert_pairs([(b"a", b"C", b"G")])
    with pytest.raises(ValueError, match="got tuple of length 1$"):
        T.convert_pairs([(b"a",)])
    for bad in ([[b"a", b"C"]], [(b"a", "C")], [("a", b"C")], 5):
        with pytest.raises(TypeError, match="seqs"):
            T.convert_pairs(bad)


@pytest.mark.parametrize(
    "raw,text",
    [(b"read1", "read1"), (b"caf\xc3\xa9", "caf\u00e9"), (b"a\xffb", "a\ufffdb"), (b"", "")],
)
def test_names_decode_with_replacement(raw, text):
    assert T.decode_name(raw) == text


# ---- access guard ----------------------------------------------------------


def test_guard_shared_holds_nest():
    probe = T.GuardProbe()
    assert probe.read(lambda: probe.read(lambda: 42)) == 42


@pytest.mark.parametrize(
    "outer,inner,message",
    [
        ("read", "write", "Already borrowed"),
        ("write", "write", "Already borrowed"),
        ("write", "read", "Already mutably borrowed"),
    ],
)
def test_guard_conflicts_fail_at_once(outer, inner, message):
    probe = T.GuardProbe()

    def conflicting():
        getattr(probe, inner)(None)

    with pytest.raises(RuntimeError, match=f"^{message}$"):
        getattr(probe, outer)(conflicting)
    # holds taken by the failed call are released
    probe.write(None)
    probe.read(None)


# ---- worker pool -----------------------------------------------------------


def test_pool_map_keeps_input_order():
    assert T.pool_threads() >= 1
    assert T.pool_map(10_000) == [i * i for i in range(10_000)]
    assert T.pool_map(0) == []


def test_pool_nested_parallelism():
    expected = [i * sum(range(300)) for i in range(64)]
    assert T.pool_nested(64, 300) == expected


def test_pool_for_each_mutates_every_item():
    assert T.pool_for_each(list(range(1000))) == list(range(1, 1001))


def test_pool_from_several_python_threads():
    results = {}

    def run(t):
        results[t] = T.pool_nested(16, 100)

    threads = [threading.Thread(target=run, args=(t,)) for t in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(r == [i * sum(range(100)) for i in range(16)] for r in results.values())
    assert len(results) == 4
