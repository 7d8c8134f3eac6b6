import operator

import pytest

import zarvi._core as core

Delimiters = core.Delimiters


def test_defaults():
    d = Delimiters()
    assert d == Delimiters(b"*", b":", b"~", None, None)
    assert (d.element, d.component, d.segment, d.repetition, d.release) == (b"*", b":", b"~", None, None)
    assert repr(d) == "Delimiters(element=b'*', component=b':', segment=b'~', repetition=None, release=None)"


@pytest.mark.parametrize(
    "kwargs, expected",
    [
        ({"component": b">", "segment": b"\n"}, (b"*", b">", b"\n", None, None)),
        ({"element": b"*", "component": b"*", "segment": b"*"}, (b"*", b"*", b"*", None, None)),
        ({"segment": b"\x00", "release": b"\xff"}, (b"*", b":", b"\x00", None, b"\xff")),
    ],
    ids=["component and segment", "all equal", "any byte"],
)
def test_keywords_and_getters(kwargs, expected):
    d = Delimiters(**kwargs)
    assert (d.element, d.component, d.segment, d.repetition, d.release) == expected
    assert d == Delimiters(*expected)


def test_repr_of_every_field():
    d = Delimiters(b"|", b">", b"\x1d", b"^", b"?")
    assert repr(d) == "Delimiters(element=b'|', component=b'>', segment=b'\\x1d', repetition=b'^', release=b'?')"


@pytest.mark.parametrize(
    "kwargs, name, expected",
    [
        ({"element": None}, "element", "bytes"),
        ({"component": memoryview(b":")}, "component", "bytes"),
        ({"release": bytearray(b"?")}, "release", "bytes or None"),
    ],
    ids=["None", "memoryview", "bytearray release"],
)
def test_wrong_types_name_the_parameter(kwargs, name, expected):
    got = type(next(iter(kwargs.values()))).__name__
    with pytest.raises(TypeError) as info:
        Delimiters(**kwargs)
    assert str(info.value) == f"Delimiters() argument '{name}' must be {expected}, not {got}"


def test_wrong_type_given_by_position():
    with pytest.raises(TypeError, match=r"^Delimiters\(\) argument 'segment' must be bytes, not str$"):
        Delimiters(b"*", b":", "~")


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


@pytest.mark.parametrize(
    "other, equal",
    [
        (Delimiters(), True),
        (Delimiters(element=b"|"), False),
        (Delimiters(component=b">"), False),
        (Delimiters(segment=b"\n"), False),
        (Delimiters(repetition=b"^"), False),
        (Delimiters(release=b"?"), False),
    ],
    ids=["same", "element", "component", "segment", "repetition", "release"],
)
def test_equality_compares_all_five_fields(other, equal):
    assert (Delimiters() == other) is equal
    assert (Delimiters() != other) is (not equal)


@pytest.mark.parametrize("other", [None, (b"*", b":", b"~", None, None)], ids=["None", "tuple"])
def test_other_types_are_not_implemented(other):
    assert Delimiters().__eq__(other) is NotImplemented
    assert Delimiters().__ne__(other) is NotImplemented
    assert (Delimiters() == other) is False
    assert (Delimiters() != other) is True


@pytest.mark.parametrize("op", [operator.lt, operator.le, operator.gt, operator.ge], ids=["<", "<=", ">", ">="])
def test_ordering_is_refused(op):
    assert getattr(Delimiters(), f"__{op.__name__}__")(Delimiters()) is NotImplemented
    with pytest.raises(TypeError):
        op(Delimiters(), Delimiters())


@pytest.mark.parametrize("name", ["release", "other"])
def test_immutable(name):
    d = Delimiters()
    with pytest.raises(AttributeError):
        setattr(d, name, b"|")
    with pytest.raises(AttributeError):
        delattr(d, name)
    with pytest.raises(TypeError):
        setattr(Delimiters, "extra", 1)


def test_class_identity():
    assert (Delimiters.__module__, Delimiters.__name__) == ("zarvi", "Delimiters")
    assert Delimiters.__doc__ == "The five delimiters of an interchange."
    with pytest.raises(TypeError):
        type("Sub", (Delimiters,), {})
