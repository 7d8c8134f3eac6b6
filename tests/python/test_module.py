import importlib.metadata
import inspect

import pytest

import zarvi
import zarvi._core
from zarvi import Spec, _external_diagnostic

# Every name of the module, in the order start-up adds them.
ALL = ["ParseError", "SpecError", "Diagnostic", "Delimiters", "Document", "Segment", "Result",
       "Spec", "Batch", "Stream", "Table", "Tables", "Envelope", "WriteFinding",
       "_external_diagnostic", "parse", "_loop_paths", "stream", "_write",
       "EDI_835_PARSER_PATCH"]
NO_CONSTRUCTOR = ["Diagnostic", "Document", "Segment", "Result", "Spec", "Batch", "Stream",
                  "Table", "Tables", "WriteFinding"]


def test_all_lists_names_in_order():
    core = zarvi._core
    assert core.__all__ == ALL
    # zarvi._write is the module of WriteError; the function is reached as zarvi.write.
    assert all(getattr(zarvi, name) is getattr(core, name) for name in core.__all__
               if name != "_write")
    assert zarvi.write.__doc__ == core._write.__doc__
    assert zarvi.__version__ == importlib.metadata.version("zarvi")
    for name in ("ParseError", "SpecError"):
        exc = getattr(zarvi, name)
        assert issubclass(exc, ValueError) and (exc.__module__, exc.__name__) == ("zarvi", name)


@pytest.mark.parametrize("name", NO_CONSTRUCTOR + ["Delimiters", "Envelope"])
def test_classes_are_final(name):
    cls = getattr(zarvi, name)
    assert cls.__module__ == "zarvi" and cls.__qualname__ == name
    if name in NO_CONSTRUCTOR:
        with pytest.raises(TypeError):
            cls()
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


@pytest.mark.parametrize(
    "function, parameters",
    [
        (zarvi.parse, "(data, spec=None, delimiters=None)"),
        (zarvi.stream, "(data, spec=None, by='transaction', delimiters=None)"),
        (zarvi._loop_paths, "(result, segments)"),
        (zarvi._core._write, "(tables, envelope, spec=None, allow_findings=False)"),
        (Spec.builtin, "(version='5010')"),
        (_external_diagnostic, "(origin, message, level, code=None, segment=None, element=None, "
                               "component=None, datum=b'', path=None)"),
    ],
    ids=["parse", "stream", "_loop_paths", "_write", "Spec.builtin", "_external_diagnostic"],
)
def test_function_signatures(function, parameters):
    assert str(inspect.signature(function)) == parameters


def _public_callables():
    for name in zarvi.__all__:
        obj = getattr(zarvi, name)
        if name.startswith("_") or not callable(obj) or (isinstance(obj, type)
                                                         and issubclass(obj, Exception)):
            continue
        if not isinstance(obj, type):
            yield name, obj
            continue
        for attr, member in vars(obj).items():
            if callable(member) and (not attr.startswith("_") or attr.startswith("__arrow_c")):
                yield f"{name}.{attr}", getattr(obj, attr)


@pytest.mark.parametrize("name, function", list(_public_callables()),
                         ids=[n for n, _ in _public_callables()])
def test_every_public_callable_has_a_signature_and_a_doc(name, function):
    # A malformed first line leaves the signature unreadable and in the text.
    inspect.signature(function)
    assert function.__doc__ and "--\n" not in function.__doc__
