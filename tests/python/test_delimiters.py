import operator

import pytest

import zarvi

Delimiters = zarvi.Delimiters
DEFAULTS = (b"*", b":", b"~", None, None)


def test_fields_and_repr():
    def fields(d):
        return (d.element, d.component, d.segment, d.repetition, d.release)
    assert fields(Delimiters()) == DEFAULTS
    assert fields(Delimiters(component=b">", segment=b"\x00", release=b"\xff")) == (
        b"*", b">", b"\x00", None, b"\xff")
    d = Delimiters(b"|", b">", b"\x1d", b"^", b"?")
    assert fields(d) == (b"|", b">", b"\x1d", b"^", b"?")
    assert repr(Delimiters()) == (
        "Delimiters(element=b'*', component=b':', segment=b'~', repetition=None, release=None)")
    assert repr(d) == (
        "Delimiters(element=b'|', component=b'>', segment=b'\\x1d', repetition=b'^', release=b'?')")


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        ((), {"element": None}, TypeError, "Delimiters() argument 'element' must be bytes, not NoneType"),
        ((), {"component": memoryview(b":")}, TypeError,
         "Delimiters() argument 'component' must be bytes, not memoryview"),
        ((), {"release": bytearray(b"?")}, TypeError,
         "Delimiters() argument 'release' must be bytes or None, not bytearray"),
        ((b"*", b":", "~"), {}, TypeError, "Delimiters() argument 'segment' must be bytes, not str"),
        ((b"**",), {}, ValueError, "delimiter element must be exactly one byte, got 2 bytes: b'**'"),
        ((), {"release": b"\xff\x00"}, ValueError,
         "delimiter release must be exactly one byte, got 2 bytes: b'\\xff\\x00'"),
        ((b"", b""), {"release": b""}, ValueError,
         "delimiter element must be exactly one byte, got 0 bytes: b''"),
        ((), {"segment": b"", "repetition": b""}, ValueError,
         "delimiter segment must be exactly one byte, got 0 bytes: b''"),
    ],
    ids=["None", "memoryview", "bytearray release", "by position", "two", "release",
         "first fails first", "segment before repetition"],
)
def test_refused(args, kwargs, error, message):
    with pytest.raises(error) as info:
        Delimiters(*args, **kwargs)
    assert str(info.value) == message


def test_equality_compares_all_five_fields():
    assert Delimiters() == Delimiters(*DEFAULTS) and not Delimiters() != Delimiters()
    for i, other in enumerate((b"|", b">", b"\n", b"^", b"?")):
        changed = Delimiters(*DEFAULTS[:i], other, *DEFAULTS[i + 1:])
        assert Delimiters() != changed and not Delimiters() == changed, i
    for other in (None, DEFAULTS):
        assert Delimiters().__eq__(other) is NotImplemented
        assert (Delimiters() == other) is False and (Delimiters() != other) is True
    for op in (operator.lt, operator.le, operator.gt, operator.ge):
        with pytest.raises(TypeError):
            op(Delimiters(), Delimiters())


def test_immutable():
    for name in ("release", "other"):
        for change in (lambda: setattr(Delimiters(), name, b"|"),
                       lambda: delattr(Delimiters(), name)):
            with pytest.raises(AttributeError):
                change()
    with pytest.raises(TypeError):
        Delimiters.extra = 1
