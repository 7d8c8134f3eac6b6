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
    ["4010\n", "005010X221A1"],
    ids=["trailing newline", "full version"],
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


def test_to_json_round_trips():
    text = Spec.builtin().to_json()
    assert Spec.from_json(text).to_json() == text
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
    renamed = spec.patch({"name": "it's \"q\""})
    assert repr(renamed) == "Spec(name='it's \"q\"', loops=1, tables=0)"  # unescaped
    assert repr(spec) == "Spec(name='mini', loops=1, tables=0)"


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: Spec.builtin().patch(b"{}"), TypeError,
         "Spec.patch takes a dict or a JSON string, not bytes"),
        (lambda: Spec.builtin().patch({"x": {1, 2}}), TypeError,
         "Spec.patch: the dict cannot be written as JSON: Object of type set is not JSON serializable"),
        (lambda: Spec.builtin().patch("{"), SpecError, "invalid spec JSON: parse error at line 1"),
        (lambda: Spec.from_json('{"loops": {}}'), SpecError,
         'spec: missing required key "name" at the top level'),
    ],
    ids=["bytes", "set inside dict", "broken text", "from_json"],
)
def test_refusals(call, error, message):
    with pytest.raises(error) as caught:
        call()
    text = str(caught.value)
    assert text == message or text.startswith(message + ", column ")  # the JSON parser's words follow


def test_compatibility_patch_applies():
    patched = Spec.builtin().patch(core.EDI_835_PARSER_PATCH)
    assert json.loads(patched.to_json())["name"] == "edi_835_parser"
