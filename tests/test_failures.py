"""Internal failures end as PanicException and leave the module usable.

Ordinary input cannot reach them (the index limit needs four billion names),
so the testing module drives the same code: a store with a lowered index
limit, a result object that cannot be created, a failed store into a result
dict, and a PanicException raised by the caller's own code during a
conversion.
"""

import os
import subprocess
import sys

import pytest

import lanternhollow_graph as lg

testing = pytest.importorskip("_lanternhollow_graph_testing")


def panic_of(fn, *args):
    with pytest.raises(BaseException) as excinfo:
        fn(*args)
    exc = excinfo.value
    assert type(exc).__name__ == "PanicException"
    return exc


def test_panic_exception_type():
    exc = panic_of(testing.descendants_with_index_limit, [("a", "b"), ("b", "c")], "a", 5, 2)
    cls = type(exc)
    assert cls.__module__ == "native_runtime"
    assert cls.__qualname__ == "PanicException"
    assert cls.__bases__ == (BaseException,)
    assert not isinstance(exc, Exception)
    assert exc.args == ("node index space exhausted: too many distinct names",)
    assert str(exc) == exc.args[0]
    assert cls.__doc__.startswith("\n") and cls.__doc__.endswith(
        "\n\nLike SystemExit, this exception is derived from BaseException so that\n"
        "it will typically propagate all the way through the stack and cause the\n"
        "Python interpreter to exit.\n"
    )
    # One type for the life of the process.
    again = panic_of(testing.descendants_with_index_limit, [("a", "b"), ("c", "d")], "a", 5, 3)
    assert type(again) is cls


@pytest.mark.parametrize(
    "edges, limit, text",
    [
        ([("a", "b"), ("b", "c")], 2, "node index space exhausted: too many distinct names"),
        ([("a", "b"), ("c", "d")], 2, "node index space exhausted: too many distinct names"),
        ([("a", "b"), ("b", "a"), ("a", "a")], 2, "edge index space exhausted: too many edges"),
        # Source before target before edge: the new source fails first.
        ([("a", "b"), ("x", "y")], 2, "node index space exhausted: too many distinct names"),
    ],
)
def test_index_limit(edges, limit, text):
    assert str(panic_of(testing.descendants_with_index_limit, edges, "a", 5, limit)) == text


def test_below_the_limit_nothing_fails():
    edges = [("a", "b"), ("b", "a")]
    assert testing.descendants_with_index_limit(edges, "a", 5, 2) == {"b": 1}
    assert testing.descendants_with_index_limit(edges, "a", 5, 2**32 - 1) == {"b": 1}


def test_result_building_failures(capfd):
    exc = panic_of(testing.fail_object_creation)
    assert str(exc) == "Python API call failed"
    err = capfd.readouterr().err
    assert "MemoryError: no memory for the result" in err  # the pending error, printed
    assert "lanternhollow_graph: internal failure at src/module/testing_module.cpp" in err
    exc = panic_of(testing.fail_dict_store)
    assert str(exc).startswith("Failed to set_item on dict: ")
    assert "TypeError" in str(exc) and "unhashable type: 'list'" in str(exc)
    assert sys.exc_info() == (None, None, None)


def test_panic_raised_by_callers_code_is_resumed(capfd):
    panic_type = type(panic_of(testing.descendants_with_index_limit, [("a", "b")], "a", 1, 1))
    capfd.readouterr()

    class Index:
        def __index__(self):
            raise panic_type("raised by a caller")

    exc = panic_of(testing.convert_count, Index())
    assert type(exc) is panic_type
    assert exc.args == ("raised by a caller",)
    err = capfd.readouterr().err
    assert "Resuming the panic" in err
    assert "raised by a caller" in err

    class Unprintable(panic_type):
        def __str__(self):
            raise ValueError

    class Index2:
        def __index__(self):
            raise Unprintable()

    assert str(panic_of(testing.convert_count, Index2())) == "Unwrapped panic from Python code"


def test_panic_passes_exception_handlers_and_module_stays_usable():
    def guarded():
        try:
            testing.descendants_with_index_limit([("a", "b"), ("b", "c")], "a", 5, 2)
        except Exception:  # noqa: BLE001 - must not catch it
            pytest.fail("PanicException was caught as an Exception")

    with pytest.raises(BaseException):
        guarded()
    assert testing.descendants_with_index_limit([("a", "b")], "a", 5, 10) == {"b": 1}
    assert lg.descendants_at_depth([("a", "b")], "a", 5) == {"b": 1}


def test_main_module_has_no_panic_type_until_a_panic():
    assert not hasattr(lg, "PanicException")


MEMORY_CHILD = r"""
import resource, sys
import lanternhollow_graph as lg
names = [str(i) for i in range(300_000)]
edges = list(zip(names, names[1:]))
expected = lg.descendants_at_depth(edges, "0", 3)
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
with open("/proc/self/status") as f:
    vm = [int(l.split()[1]) * 1024 for l in f if l.startswith("VmSize:")][0]
resource.setrlimit(resource.RLIMIT_AS, (vm + 16 * 2**20, hard))
outcome = "no error"
try:
    lg.betweenness(edges)
except MemoryError:
    outcome = "MemoryError"
resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
assert lg.descendants_at_depth(edges, "0", 3) == expected
print(outcome)
"""


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""), reason="the sanitizer runtime needs its own address space")
def test_exhausted_memory_raises_memory_error_and_leaves_process_usable():
    out = subprocess.run([sys.executable, "-c", MEMORY_CHILD], capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "MemoryError"
