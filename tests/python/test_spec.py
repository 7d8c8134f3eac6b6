import json

import pytest

import zarvi._core as core
from zarvi._core import Spec, SpecError

LOOPS_5010 = ["1000A", "1000B", "2000", "2100", "2110", "group", "interchange", "transaction"]


def test_builtin_default_and_5010_share_one_spec():
    a, b = Spec.builtin(), Spec.builtin("5010")
    assert repr(a) == "Spec(name='835', loops=8, tables=5)"
    assert a.to_json() == b.to_json()
    assert Spec.builtin(version="4010").loops() == LOOPS_5010
    assert a.loops() == LOOPS_5010


@pytest.mark.parametrize(
    "version",
    ["5010 ", "4010\n", "", "005010X221A1", "50100"],
    ids=["trailing blank", "trailing newline", "empty", "full version", "longer"],
)
def test_builtin_refuses_other_versions(version):
    with pytest.raises(ValueError) as caught:
        Spec.builtin(version)
    expected = (
        f"Spec.builtin(version={json.dumps(version)}): no built-in spec for that version; "
        'the built-ins are "5010" and "4010"'
    )
    assert str(caught.value) == expected


@pytest.mark.parametrize(
    "call",
    [lambda: Spec.builtin(5010), lambda: Spec.builtin(version=b"5010"),
     lambda: Spec.from_json(b"{}"), lambda: Spec.from_json(json={})],
    ids=["builtin int", "builtin bytes", "from_json bytes", "from_json dict"],
)
def test_argument_types(call):
    with pytest.raises(TypeError, match="must be str"):
        call()


def test_4010_builtin_declares_4010_versions():
    spec = json.loads(Spec.builtin("4010").to_json())
    assert spec["version"]["values"] == ["004010X091A1", "004010X091", "004010"]
    assert "RDM" not in spec["segments"]
    assert spec["name"] == "835"


def test_to_json_round_trips_and_sorts_members():
    text = Spec.builtin().to_json()
    keys = list(json.loads(text))
    assert keys == ["balancing", "loops", "name", "segments", "tables", "version"]
    again = Spec.from_json(text)
    assert again.to_json() == text
    assert json.dumps(json.loads(text), indent=2, sort_keys=True) == text


MINIMAL = {"name": "mini", "loops": {"only": {"trigger": {"segment": "ISA"},
                                             "occurrences": {"isa": {"segment": "ISA", "pos": 1}}}}}


@pytest.mark.parametrize("patch", ["{}", {}], ids=["text", "dict"])
def test_empty_patch_gives_equal_spec(patch):
    spec = Spec.builtin()
    patched = spec.patch(patch)
    assert patched is not spec
    assert patched.to_json() == spec.to_json()


def test_patch_leaves_original_unchanged():
    spec = Spec.from_json(json.dumps(MINIMAL))
    renamed = spec.patch({"name": "other"})
    assert repr(renamed) == "Spec(name='other', loops=1, tables=0)"
    assert repr(spec) == "Spec(name='mini', loops=1, tables=0)"


@pytest.mark.parametrize(
    "patch, error, message",
    [
        ([], TypeError, "Spec.patch takes a dict or a JSON string, not list"),
        (b"{}", TypeError, "Spec.patch takes a dict or a JSON string, not bytes"),
        (None, TypeError, "Spec.patch takes a dict or a JSON string, not NoneType"),
        ({"x": {1, 2}}, TypeError,
         "Spec.patch: the dict cannot be written as JSON: Object of type set is not JSON serializable"),
        ("{", SpecError, None),
    ],
    ids=["list", "bytes", "none", "set inside dict", "broken text"],
)
def test_patch_refusals(patch, error, message):
    with pytest.raises(error) as caught:
        Spec.builtin().patch(patch)
    if message is not None:
        assert str(caught.value) == message
    else:
        assert str(caught.value).startswith("invalid spec JSON: ")


def test_patch_that_does_not_compile_names_the_key():
    with pytest.raises(SpecError) as caught:
        Spec.builtin().patch({"loops": {"2000": {"colour": "red"}}})
    assert str(caught.value) == 'applying patch: spec: unknown key "colour" at loops.2000'


def test_from_json_raises_core_message():
    with pytest.raises(SpecError) as caught:
        Spec.from_json('{"loops": {}}')
    assert str(caught.value) == 'spec: missing required key "name" at the top level'
    assert isinstance(caught.value, ValueError)


def test_repr_shows_name_unescaped():
    spec = Spec.from_json(json.dumps(dict(MINIMAL, name="it's \"q\"")))
    assert repr(spec) == "Spec(name='it's \"q\"', loops=1, tables=0)"


def test_spec_cannot_be_constructed():
    with pytest.raises(TypeError):
        Spec()


def test_signatures_and_docs():
    assert str(__import__("inspect").signature(Spec.builtin)) == "(version='5010')"
    assert Spec.__doc__ == "The loop structure, element definitions and tables of a file format."
    assert Spec.to_json.__doc__ == "The spec as JSON text."
    assert Spec.__module__ == "zarvi"


def test_compatibility_patch_constant():
    text = core.EDI_835_PARSER_PATCH
    assert isinstance(text, str) and text.endswith("\n") and not text.endswith("\n\n")
    patch = json.loads(text)
    assert patch["name"] == "edi_835_parser"
    spec = json.loads(Spec.builtin().patch(text).to_json())
    assert spec["name"] == "edi_835_parser"
    assert len(spec["tables"]) == 17
    assert sorted(spec["tables"]) == sorted(
        ["rows"] + [t for t in patch["tables"] if t.startswith("rows_")])


ORDER = ["ParseError", "SpecError", "Diagnostic", "Delimiters", "Document", "Segment", "Result",
         "Spec", "Batch", "Stream", "Table", "Tables", "Envelope", "WriteFinding",
         "_external_diagnostic", "parse", "_loop_paths", "stream", "_write", "EDI_835_PARSER_PATCH"]


def test_spec_and_patch_take_their_places_in_all():
    names = core.__all__
    assert "Spec" in names and names[-1] == "EDI_835_PARSER_PATCH"
    assert names == [n for n in ORDER if n in names]
