import _thread
import gc
import threading

import pytest

import zarvi
from x12_input import SIMPLE, reuse_freed_memory
from zarvi import Diagnostic, _external_diagnostic


def external(**kw):
    return _external_diagnostic(**{"origin": "v", "message": "m", "level": 2, **kw})


def test_attributes():
    d = external()
    assert (d.origin, d.kind, d.level, d.code, d.segment, d.element, d.component) == (
        "v", "External", 2, None, None, None, None)
    assert (d.path, d.datum, d.rule) == ("", b"", "m (reported by v)")
    for name in ("level", "anything"):
        with pytest.raises(AttributeError):
            setattr(d, name, 3)
    with pytest.raises(TypeError):
        Diagnostic.level = None
    d = _external_diagnostic("prüfer", "läuft nicht", 3, "ß", 12, 4, 2, b"2023\xff",
                             [("interchange", 1), ("group", 1)])
    assert (d.code, d.level, d.segment, d.element, d.component) == ("ß", 3, 12, 4, 2)
    assert (d.datum, d.path) == (b"2023\xff", "interchange#1/group#1")
    assert d.rule == "läuft nicht (reported by prüfer, code ß)"
    # The line itself is the core's; this only shows it is the one str() gives.
    assert str(d).startswith(f"SNIP 3 \u00b7 {d.rule} \u00b7 ")


def test_conversions_and_repr():
    for datum, path, want in [
            (bytearray(b"xy"), (), (b"xy", "")),
            ([65, 0, 255], [("my loop", 1), ("", 2)], (b"A\x00\xff", '"my loop"#1/""#2')),
            (memoryview(b"mv"), (("transaction", 2), ("2100", 30)), (b"mv", "transaction#2/2100#30"))]:
        d = external(datum=datum, path=path)
        assert (d.datum, d.path) == want
    assert repr(external()) == ("Diagnostic(level=2, origin='v', kind='External', segment=None, "
                                "element=None, component=None)")
    d = external(origin="it's \"x\"", segment=0, element=10, component=2, level=1)
    assert repr(d) == ("Diagnostic(level=1, origin='it's \"x\"', kind='External', segment=0, "
                       "element=10, component=2)")  # unescaped


ARG = "_external_diagnostic() argument"


@pytest.mark.parametrize(
    "kw, error, message",
    [
        ({"level": 4}, ValueError, "level must be 1, 2 or 3, got 4"),
        ({"level": -(2**80)}, ValueError, f"level must be 1, 2 or 3, got {-(2**80)}"),
        ({"level": 1.0}, TypeError, "'float' object cannot be interpreted as an integer"),
        ({"segment": -1}, ValueError, "segment must be a non-negative integer, got -1"),
        ({"element": 2**64}, ValueError,
         f"element must be a non-negative integer of at most {2**64 - 2}, got {2**64}"),
        # The largest 64-bit value is how a diagnostic holds "no position".
        ({"component": 2**64 - 1}, ValueError,
         f"component must be a non-negative integer of at most {2**64 - 2}, got {2**64 - 1}"),
        ({"origin": 1}, TypeError, f"{ARG} 'origin' must be str, not int"),
        ({"code": 5}, TypeError, f"{ARG} 'code' must be str or None, not int"),
        ({"datum": "text"}, TypeError, f"{ARG} 'datum' must be a sequence of byte values, not str"),
        ({"datum": [256]}, ValueError, "bytes must be in range(0, 256)"),
        ({"path": "interchange#1"}, TypeError,
         f"{ARG} 'path' must be None or a sequence of (name, ordinal) pairs, not str"),
        ({"path": [(1, 1)]}, TypeError,
         f"{ARG} 'path' must be None or a sequence of (name, ordinal) pairs, not list"),
        ({"path": [("a", -1)]}, OverflowError, "can't convert negative int to unsigned"),
        # The order of the checks: types, then positions in order, then level.
        ({"origin": 1, "segment": -1, "level": 0}, TypeError, f"{ARG} 'origin' must be str, not int"),
        ({"element": -2, "level": 0}, ValueError, "element must be a non-negative integer, got -2"),
    ],
    ids=["level 4", "level beyond 64 bits", "level float", "negative segment",
         "element too large", "component no position", "origin int", "code int", "datum str", "datum byte out of range",
         "path str", "path name int", "path ordinal negative", "types before positions",
         "positions before level"],
)
def test_refused(kw, error, message):
    with pytest.raises(error) as info:
        external(**kw)
    assert str(info.value) == message


def _fields(d):
    return (d.kind, d.level, d.segment, d.element, d.path, d.datum, d.rule, str(d))


@pytest.mark.parametrize(
    "read",
    [lambda data: zarvi.parse(data).diagnostics,
     lambda data: [d for batch in zarvi.stream(data) for d in batch.diagnostics]],
    ids=["parse", "stream"],
)
def test_diagnostics_outlive_their_result_and_list(read):
    # Bad codes, an invalid date and a cut-off end: several findings, each
    # with its own datum and path.
    data = SIMPLE.replace(b"DTM*405*", b"DTM*405*X", 1).replace(b"N1*PR*", b"N1*XX*", 1)[:-40]
    found = read(data)
    assert len(found) >= 3
    expected = [_fields(d) for d in found]
    kept = found[::2] + found[1::2]
    del found
    gc.collect()
    assert [_fields(d) for d in kept] == expected[::2] + expected[1::2]


def test_largest_position():
    d = external(segment=2**64 - 2, element=2**64 - 2, component=2**64 - 2)
    assert (d.segment, d.element, d.component) == (2**64 - 2,) * 3


class DropOnIndex:
    """A datum item that empties the keyword dict while datum converts."""

    def __init__(self, kwargs):
        self.kwargs = kwargs

    def __index__(self):
        self.kwargs.clear()
        self.reused = reuse_freed_memory()
        return 65


class DropOnEq(str):
    """A keyword whose __eq__, run while the arguments are parsed, empties
    the dict and puts back only itself."""

    __hash__ = str.__hash__

    def __init__(self, _):
        self.kwargs = None

    def __eq__(self, other):
        if self.kwargs is not None and "segment" in self.kwargs:
            self.kwargs.clear()
            self.reused = reuse_freed_memory()
            self.kwargs["path"] = None
        return str.__eq__(self, other)


def _drop_on_index(kwargs):
    kwargs["datum"] = [DropOnIndex(kwargs)]


def _drop_on_eq(kwargs):
    key = DropOnEq("path")
    kwargs[key] = None
    key.kwargs = kwargs


# _thread.start_new_thread hands the function the caller's own keyword dict.
# Python code that empties it, while another argument converts or while the
# arguments are parsed, must leave the segment argument the one given.
@pytest.mark.parametrize("drop", [_drop_on_index, _drop_on_eq], ids=["__index__", "key __eq__"])
def test_arguments_outlive_python_code_that_drops_them(monkeypatch, drop):
    raised, done = [], threading.Event()

    def hook(unraisable):
        raised.append(unraisable.exc_value)
        done.set()

    monkeypatch.setattr("sys.unraisablehook", hook)
    segment = -int("1" * 31)
    kwargs = {"origin": "v", "message": "m", "level": 2, "segment": -int("1" * 31)}
    drop(kwargs)
    _thread.start_new_thread(_external_diagnostic, (), kwargs)
    assert done.wait(30)
    assert [str(e) for e in raised] == [f"segment must be a non-negative integer, got {segment}"]
