import inspect

import pytest

import zarvi._core as core
from zarvi._core import Spec, _external_diagnostic

# Every name of the module, in the order start-up adds them.
ALL = ["ParseError", "SpecError", "Diagnostic", "Delimiters", "Document", "Segment", "Result",
       "Spec", "Batch", "Stream", "Table", "Tables", "Envelope", "WriteFinding",
       "_external_diagnostic", "parse", "_loop_paths", "stream", "_write",
       "EDI_835_PARSER_PATCH"]
NO_CONSTRUCTOR = ["Diagnostic", "Document", "Segment", "Result", "Spec", "Batch", "Stream",
                  "Table", "Tables", "WriteFinding"]


def test_all_lists_names_in_order():
    assert core.__all__ == ALL
    assert all(hasattr(core, name) for name in core.__all__)
    for name in ("ParseError", "SpecError"):
        exc = getattr(core, name)
        assert issubclass(exc, ValueError) and (exc.__module__, exc.__name__) == ("zarvi", name)


@pytest.mark.parametrize("name", NO_CONSTRUCTOR + ["Delimiters", "Envelope"])
def test_classes_are_final(name):
    cls = getattr(core, name)
    assert cls.__module__ == "zarvi" and cls.__qualname__ == name
    if name in NO_CONSTRUCTOR:
        with pytest.raises(TypeError):
            cls()
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


@pytest.mark.parametrize(
    "function, parameters",
    [
        (core.parse, "(data, spec=None, delimiters=None)"),
        (core.stream, "(data, spec=None, by='transaction', delimiters=None)"),
        (core._loop_paths, "(result, segments)"),
        (core._write, "(tables, envelope, spec=None, allow_findings=False)"),
        (Spec.builtin, "(version='5010')"),
        (_external_diagnostic, "(origin, message, level, code=None, segment=None, element=None, "
                               "component=None, datum=b'', path=None)"),
    ],
    ids=["parse", "stream", "_loop_paths", "_write", "Spec.builtin", "_external_diagnostic"],
)
def test_function_signatures(function, parameters):
    assert str(inspect.signature(function)) == parameters
