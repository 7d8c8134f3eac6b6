import operator

import pytest

import zarvi._core as core

Delimiters = core.Delimiters
DEFAULTS = (b"*", b":", b"~", None, None)


def fields(d):
    return (d.element, d.component, d.segment, d.repetition, d.release)


@pytest.mark.parametrize(
    "args, kwargs, expected",
    [
        ((), {}, DEFAULTS),
        ((), {"component": b">", "segment": b"\n"}, (b"*", b">", b"\n", None, None)),
        ((), {"element": b"*", "component": b"*", "segment": b"*"}, (b"*", b"*", b"*", None, None)),
        ((), {"segment": b"\x00", "release": b"\xff"}, (b"*", b":", b"\x00", None, b"\xff")),
        ((b"|", b">", b"\x1d", b"^", b"?"), {}, (b"|", b">", b"\x1d", b"^", b"?")),
    ],
    ids=["defaults", "component and segment", "all equal", "any byte", "by position"],
)
def test_fields(args, kwargs, expected):
    d = Delimiters(*args, **kwargs)
    assert fields(d) == expected
    assert d == Delimiters(*expected)


def test_repr():
    assert repr(Delimiters()) == (
        "Delimiters(element=b'*', component=b':', segment=b'~', repetition=None, release=None)")
    assert repr(Delimiters(b"|", b">", b"\x1d", b"^", b"?")) == (
        "Delimiters(element=b'|', component=b'>', segment=b'\\x1d', repetition=b'^', release=b'?')")


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {"element": None}, "argument 'element' must be bytes, not NoneType"),
        ((), {"component": memoryview(b":")}, "argument 'component' must be bytes, not memoryview"),
        ((), {"release": bytearray(b"?")}, "argument 'release' must be bytes or None, not bytearray"),
        ((b"*", b":", "~"), {}, "argument 'segment' must be bytes, not str"),
    ],
    ids=["None", "memoryview", "bytearray release", "by position"],
)
def test_wrong_types_name_the_parameter(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        Delimiters(*args, **kwargs)
    assert str(info.value) == f"Delimiters() {message}"


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((b"**",), {}, "delimiter element must be exactly one byte, got 2 bytes: b'**'"),
        ((), {"segment": b"~\r\n"}, "delimiter segment must be exactly one byte, got 3 bytes: b'~\\r\\n'"),
        ((), {"release": b"\xff\x00"}, "delimiter release must be exactly one byte, got 2 bytes: b'\\xff\\x00'"),
        ((b"", b""), {"release": b""}, "delimiter element must be exactly one byte, got 0 bytes: b''"),
        ((), {"segment": b"", "repetition": b""}, "delimiter segment must be exactly one byte, got 0 bytes: b''"),
    ],
    ids=["two", "segment", "release", "first fails first", "segment before repetition"],
)
def test_lengths(args, kwargs, message):
    with pytest.raises(ValueError) as info:
        Delimiters(*args, **kwargs)
    assert str(info.value) == message


def test_equality_compares_all_five_fields():
    assert Delimiters() == Delimiters() and not Delimiters() != Delimiters()
    for i, other in enumerate((b"|", b">", b"\n", b"^", b"?")):
        changed = Delimiters(*DEFAULTS[:i], other, *DEFAULTS[i + 1:])
        assert Delimiters() != changed and not Delimiters() == changed, i


def test_other_types_and_ordering_are_not_implemented():
    for other in (None, DEFAULTS):
        assert Delimiters().__eq__(other) is NotImplemented
        assert Delimiters().__ne__(other) is NotImplemented
        assert (Delimiters() == other) is False and (Delimiters() != other) is True
    for op in (operator.lt, operator.le, operator.gt, operator.ge):
        assert getattr(Delimiters(), f"__{op.__name__}__")(Delimiters()) is NotImplemented
        with pytest.raises(TypeError):
            op(Delimiters(), Delimiters())


def test_immutable():
    d = Delimiters()
    for name in ("release", "other"):
        with pytest.raises(AttributeError):
            setattr(d, name, b"|")
        with pytest.raises(AttributeError):
            delattr(d, name)
    with pytest.raises(TypeError):
        setattr(Delimiters, "extra", 1)
