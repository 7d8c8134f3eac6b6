import inspect

import pytest

import zarvi._core as core
from zarvi._core import Diagnostic, _external_diagnostic

DOT = " \u00b7 "


def external(**kw):
    args = {"origin": "v", "message": "m", "level": 2}
    args.update(kw)
    return _external_diagnostic(**args)


class TestClass:
    def test_registered_after_the_exceptions(self):
        assert core.__all__.index("Diagnostic") == 2
        assert core.__all__.index("_external_diagnostic") > core.__all__.index("Diagnostic")

    def test_names_and_doc(self):
        assert Diagnostic.__name__ == "Diagnostic"
        assert Diagnostic.__module__ == "zarvi"
        assert Diagnostic.__doc__ == "One finding about the data of a file. A value, never raised."

    def test_no_constructor(self):
        with pytest.raises(TypeError):
            Diagnostic()

    def test_immutable(self):
        d = external()
        with pytest.raises(AttributeError):
            d.level = 3
        with pytest.raises(AttributeError):
            d.anything = 1
        with pytest.raises(TypeError):
            Diagnostic.level = None

    def test_function_signature(self):
        assert str(inspect.signature(_external_diagnostic)) == (
            "(origin, message, level, code=None, segment=None, element=None, "
            "component=None, datum=b'', path=None)"
        )
        assert _external_diagnostic.__module__ == "zarvi._core"


class TestAttributes:
    def test_minimal(self):
        d = external()
        assert (d.origin, d.kind, d.level) == ("v", "External", 2)
        assert (d.code, d.segment, d.element, d.component) == (None, None, None, None)
        assert d.path == ""
        assert d.datum == b""
        assert d.rule == "m (reported by v)"

    def test_every_argument(self):
        d = _external_diagnostic(
            "checker", "bad date", 3, "E7", 12, 4, 2, b"2023\xff", [("interchange", 1), ("group", 1)]
        )
        assert d.origin == "checker"
        assert d.code == "E7"
        assert d.kind == "External"
        assert d.level == 3
        assert (d.segment, d.element, d.component) == (12, 4, 2)
        assert d.datum == b"2023\xff"
        assert d.path == "interchange#1/group#1"
        assert d.rule == "bad date (reported by checker, code E7)"

    @pytest.mark.parametrize("level", [1, 2, 3])
    def test_level_kept(self, level):
        assert external(level=level).level == level
        assert str(external(level=level)).startswith(f"SNIP {level}{DOT}")

    @pytest.mark.parametrize(
        "datum, expected",
        [
            (b"abc", b"abc"),
            (bytearray(b"xy"), b"xy"),
            ([65, 0, 255], b"A\x00\xff"),
            ((), b""),
            (memoryview(b"mv"), b"mv"),
        ],
        ids=["bytes", "bytearray", "list of ints", "empty tuple", "memoryview"],
    )
    def test_datum_sequences(self, datum, expected):
        assert external(datum=datum).datum == expected

    @pytest.mark.parametrize(
        "path, expected",
        [
            (None, ""),
            ([], ""),
            ([("interchange", 1)], "interchange#1"),
            ((("transaction", 2), ("2100", 30)), "transaction#2/2100#30"),
            ([("my loop", 1), ("", 2), ("a.b", 0)], '"my loop"#1/""#2/"a.b"#0'),
        ],
        ids=["none", "empty", "one", "tuple of pairs", "keys needing quotes"],
    )
    def test_path(self, path, expected):
        assert external(path=path).path == expected


class TestText:
    def test_str_at_the_root(self):
        assert str(external()) == f"SNIP 2{DOT}m (reported by v){DOT}end of stream{DOT}at the root{DOT}datum \"\""

    def test_str_with_everything(self):
        d = external(code="C", segment=7, element=2, component=1, datum=b'A\xffB"', path=[("interchange", 1)])
        assert str(d) == (
            f"SNIP 2{DOT}m (reported by v, code C){DOT}segment #7, element 2, component 1"
            f'{DOT}at interchange#1{DOT}datum "A\\xFFB\\""'
        )

    def test_component_without_element_not_shown(self):
        assert f"segment #0{DOT}" in str(external(segment=0, component=3))

    @pytest.mark.parametrize(
        "kw, expected",
        [
            ({}, "Diagnostic(level=2, origin='v', kind='External', segment=None, element=None, component=None)"),
            (
                {"segment": 0, "element": 10, "component": 2, "level": 1},
                "Diagnostic(level=1, origin='v', kind='External', segment=0, element=10, component=2)",
            ),
            (
                {"origin": "it's \"x\"", "level": 3},
                "Diagnostic(level=3, origin='it's \"x\"', kind='External', segment=None, element=None, component=None)",
            ),
        ],
        ids=["no positions", "positions", "origin unescaped"],
    )
    def test_repr(self, kw, expected):
        assert repr(external(**kw)) == expected

    def test_non_ascii_text_round_trips(self):
        d = external(origin="prüfer", message="läuft nicht", code="ß")
        assert d.origin == "prüfer"
        assert d.code == "ß"
        assert d.rule == "läuft nicht (reported by prüfer, code ß)"


class TestErrors:
    @pytest.mark.parametrize(
        "kw, error, message",
        [
            ({"level": 0}, ValueError, "level must be 1, 2 or 3, got 0"),
            ({"level": 4}, ValueError, "level must be 1, 2 or 3, got 4"),
            ({"level": -(2**80)}, ValueError, f"level must be 1, 2 or 3, got {-(2**80)}"),
            ({"level": 1.0}, TypeError, "'float' object cannot be interpreted as an integer"),
            ({"segment": -1}, ValueError, "segment must be a non-negative integer, got -1"),
            ({"element": 2**64}, ValueError, f"element must be a non-negative integer, got {2**64}"),
            ({"component": -3}, ValueError, "component must be a non-negative integer, got -3"),
            ({"segment": "1"}, TypeError, "'str' object cannot be interpreted as an integer"),
            ({"origin": 1}, TypeError, "_external_diagnostic() argument 'origin' must be str, not int"),
            ({"message": b"m"}, TypeError, "_external_diagnostic() argument 'message' must be str, not bytes"),
            ({"code": 5}, TypeError, "_external_diagnostic() argument 'code' must be str or None, not int"),
            (
                {"datum": "text"},
                TypeError,
                "_external_diagnostic() argument 'datum' must be a sequence of byte values, not str",
            ),
            ({"datum": 3}, TypeError, "_external_diagnostic() argument 'datum' must be a sequence of byte values, not int"),
            ({"datum": [256]}, ValueError, "bytes must be in range(0, 256)"),
            (
                {"path": "interchange#1"},
                TypeError,
                "_external_diagnostic() argument 'path' must be None or a sequence of (name, ordinal) pairs, not str",
            ),
            (
                {"path": [("interchange",)]},
                TypeError,
                "_external_diagnostic() argument 'path' must be None or a sequence of (name, ordinal) pairs, not list",
            ),
            (
                {"path": [(1, 1)]},
                TypeError,
                "_external_diagnostic() argument 'path' must be None or a sequence of (name, ordinal) pairs, not list",
            ),
            ({"path": [("a", -1)]}, OverflowError, "can't convert negative int to unsigned"),
        ],
        ids=[
            "level 0", "level 4", "level beyond 64 bits", "level float",
            "negative segment", "element too large", "negative component", "segment str",
            "origin int", "message bytes", "code int", "datum str", "datum int",
            "datum byte out of range", "path str", "path item short", "path name int",
            "path ordinal negative",
        ],
    )
    def test_refused(self, kw, error, message):
        with pytest.raises(error) as info:
            external(**kw)
        assert str(info.value) == message

    @pytest.mark.parametrize(
        "kw, error, message",
        [
            ({"origin": 1, "segment": -1, "level": 0}, TypeError, "argument 'origin'"),
            ({"path": "x", "segment": -1}, TypeError, "argument 'path'"),
            ({"segment": -1, "element": -2, "level": 0}, ValueError, "segment must be"),
            ({"element": -2, "level": 0}, ValueError, "element must be"),
        ],
        ids=["types before positions", "path before positions", "segment first", "positions before level"],
    )
    def test_check_order(self, kw, error, message):
        with pytest.raises(error, match=message.replace("(", r"\(")):
            external(**kw)
