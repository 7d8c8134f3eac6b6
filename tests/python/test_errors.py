"""Exceptions that are not the module's own reach the caller as they are;
a capsule destructor keeps the exception in flight; the argument parse runs
no code of the caller's."""
import ctypes
import gc
import json
import sys

import pytest

import zarvi
from x12_input import ENVELOPE, SIMPLE, reuse_freed_memory

TABLES = zarvi.parse(SIMPLE).tables


class Unusual(BaseException):
    pass


class FailingImport:
    """A meta path finder whose import of one module raises `error`."""

    def __init__(self, name, error):
        self.name, self.error = name, error

    def find_spec(self, fullname, path, target=None):
        if fullname == self.name:
            raise self.error
        return None


def failing_import(monkeypatch, name, error):
    monkeypatch.delitem(sys.modules, name, raising=False)
    monkeypatch.setattr(sys, "meta_path", [FailingImport(name, error), *sys.meta_path])


def patch_dumps(monkeypatch, error):
    def dumps(_):
        raise error
    monkeypatch.setattr(json, "dumps", dumps)
    return lambda: zarvi.Spec.builtin().patch({})


def import_polars(monkeypatch, error):
    failing_import(monkeypatch, "polars", error)
    return lambda: TABLES["claims"].to_polars()


def stream_lookup(_, error):
    class Producer:
        looked = False

        @property
        def __arrow_c_stream__(self):
            if not self.looked:  # once: a fallback to pyarrow must not hide it
                self.looked = True
                raise error
            return TABLES["claims"].__arrow_c_stream__
    return lambda: zarvi.write({"claims": Producer()}, ENVELOPE)


def mapping_test(_, error):
    class Broken:
        @property
        def __class__(self):
            raise error
    return lambda: zarvi.write(Broken(), ENVELOPE)


@pytest.mark.parametrize("error", [KeyboardInterrupt(), SystemExit(3), MemoryError(), Unusual()],
                         ids=["interrupt", "exit", "memory", "BaseException"])
@pytest.mark.parametrize("place", [patch_dumps, import_polars, stream_lookup, mapping_test],
                         ids=["json.dumps", "optional import", "stream lookup", "mapping test"])
def test_errors_not_ours_pass_through(monkeypatch, place, error):
    call = place(monkeypatch, error)
    with pytest.raises(type(error)) as caught:
        call()
    assert caught.value is error


NOT_INSTALLED = ('Table.to_polars needs polars, which is not installed; install it with: '
                 'pip install "zarvi[polars]"')
FAILED = "Table.to_polars needs polars, which is installed but failed to import: "


@pytest.mark.parametrize("place, error, raised, message", [
    (patch_dumps, ValueError("Circular reference detected"), TypeError,
     "Spec.patch: the dict cannot be written as JSON: Circular reference detected"),
    (import_polars, ModuleNotFoundError("gone", name="polars"), ImportError, NOT_INSTALLED),
    (import_polars, ModuleNotFoundError("No module named 'numpy'", name="numpy"), ImportError,
     FAILED + "No module named 'numpy'"),
    (import_polars, ImportError("built against another numpy"), ImportError,
     FAILED + "built against another numpy"),
], ids=["json.dumps refuses", "absent", "dependency absent", "broken build"])
def test_errors_worded_keep_their_cause(monkeypatch, place, error, raised, message):
    with pytest.raises(raised) as caught:
        place(monkeypatch, error)()
    assert str(caught.value) == message and caught.value.__cause__ is error


_set_name = ctypes.pythonapi.PyCapsule_SetName
_set_name.argtypes = [ctypes.py_object, ctypes.c_char_p]
_set_name.restype = ctypes.c_int
USED = b"used"  # the capsule keeps a pointer to it


def renamed(capsule):
    assert _set_name(capsule, USED) == 0
    return capsule


# A consumer may rename a capsule to mark it used; its destructor, run while
# an exception propagates, must leave that exception in place.
@pytest.mark.parametrize("export", [
    lambda t: t.__arrow_c_schema__(),
    lambda t: t.__arrow_c_array__()[1],
    lambda t: t.__arrow_c_stream__(),
], ids=["schema", "array", "stream"])
def test_renamed_capsule_dropped_while_an_exception_propagates(monkeypatch, export):
    table = TABLES["claims"]

    def fail():
        raise LookupError("the consumer failed")
    with pytest.raises(LookupError, match="the consumer failed"):
        print(renamed(export(table)), fail())
    hooked = []
    monkeypatch.setattr(sys, "unraisablehook", hooked.append)
    renamed(export(table))
    gc.collect()
    assert hooked == []


class ReplaceOnEq(str):
    """A keyword whose __eq__ finds every dict holding it, the parse's
    private one included, and replaces the data argument there."""

    __hash__ = str.__hash__

    def __eq__(self, other):
        for holder in gc.get_referrers(self):
            if isinstance(holder, dict) and "data" in holder:
                holder["data"] = b"replaced"
        self.reused = reuse_freed_memory()
        return str.__eq__(self, other)


def test_keyword_eq_cannot_replace_a_stored_argument():
    result = zarvi.parse(**{"data": bytearray(SIMPLE), ReplaceOnEq("delimiters"): None})
    assert result.document.write() == SIMPLE
