import json
import math

import pytest

import zarvi
from zarvi import Spec, SpecError

LOOPS_5010 = ["1000A", "1000B", "2000", "2100", "2110", "group", "interchange", "transaction"]


def test_builtin():
    spec = Spec.builtin()
    assert repr(spec) == "Spec(name='835', loops=8, tables=5)"
    assert spec.to_json() == Spec.builtin("5010").to_json()
    assert spec.loops() == Spec.builtin(version="4010").loops() == LOOPS_5010
    text = spec.to_json()
    assert Spec.from_json(text).to_json() == text
    assert json.dumps(json.loads(text), indent=2, sort_keys=True) == text


def test_patch():
    spec = Spec.from_json(json.dumps({"name": "mini", "loops": {"only": {
        "trigger": {"segment": "ISA"}, "occurrences": {"isa": {"segment": "ISA", "pos": 1}}}}}))
    for empty in ("{}", {}):
        patched = spec.patch(empty)
        assert patched is not spec and patched.to_json() == spec.to_json()
    renamed = spec.patch({"name": "it's \"q\""})
    assert repr(renamed) == "Spec(name='it's \"q\"', loops=1, tables=0)"  # unescaped
    assert repr(spec) == "Spec(name='mini', loops=1, tables=0)"
    patched = Spec.builtin().patch(zarvi.EDI_835_PARSER_PATCH)
    assert json.loads(patched.to_json())["name"] == "edi_835_parser"


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
        *[(lambda v=v: Spec.builtin(v), ValueError, f"Spec.builtin(version={json.dumps(v)}): no "
           'built-in spec for that version; the built-ins are "5010" and "4010"')
          for v in ("4010\n", "005010X221A1")],
        (lambda: Spec.builtin(5010), TypeError, "builtin() argument 'version' must be str, not int"),
        (lambda: Spec.builtin(version=b"5010"), TypeError,
         "builtin() argument 'version' must be str, not bytes"),
        (lambda: Spec.from_json(b"{}"), TypeError,
         "from_json() argument 'json' must be str, not bytes"),
        (lambda: Spec.from_json(json={}), TypeError,
         "from_json() argument 'json' must be str, not dict"),
    ],
    ids=["bytes", "set inside dict", "broken text", "from_json", "builtin newline",
         "builtin full version", "builtin int", "builtin bytes", "from_json bytes",
         "from_json dict"],
)
def test_refusals(call, error, message):
    with pytest.raises(error) as caught:
        call()
    text = str(caught.value)
    assert text == message or text.startswith(message + ", column ")  # the JSON parser's words follow


def test_patch_runs_no_code_of_the_dict_it_checks():
    class Key:
        def __str__(self):
            patch.clear()  # frees the value the check would read next
            return "name"

    patch = {Key(): [0.5] * 100}
    with pytest.raises(TypeError) as caught:
        Spec.builtin().patch(patch)
    assert str(caught.value) == ("Spec.patch: the dict cannot be written as JSON: keys must be "
                                 "str, int, float, bool or None, not Key")
    assert patch

    # Keys and items are read as json.dumps reads them, never through a
    # subclass's own methods.
    class Name(str):
        def __str__(self):
            raise AssertionError

    class Items(list):
        def __getitem__(self, i):
            raise AssertionError

    for key, path in [(Name("2110"), "2110"), (True, "true"), (None, "null"), (2.5, '"2.5"')]:
        with pytest.raises(SpecError) as caught:
            Spec.builtin().patch({"loops": {key: {"max": Items([1, -math.inf])}}})
        assert str(caught.value) == (f"Spec.patch: the value at loops.{path}.max[1] is negative "
                                     "infinity, which JSON cannot hold; a spec holds finite "
                                     "numbers only")
