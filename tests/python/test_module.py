import inspect

import pytest

import zarvi._core as core

# Every name of the module, in the order start-up adds them.
ALL = ["ParseError", "SpecError", "Diagnostic", "Delimiters", "Document", "Segment", "Result",
       "Spec", "Batch", "Stream", "Table", "Tables", "Envelope", "WriteFinding",
       "_external_diagnostic", "parse", "_loop_paths", "stream", "_write",
       "EDI_835_PARSER_PATCH"]
WRITER = {"Envelope", "WriteFinding", "_write"}


def test_module_doc():
    assert core.__doc__ == "The `zarvi._core` extension module."


def test_exceptions_are_value_errors():
    for name in ("ParseError", "SpecError"):
        exc = getattr(core, name)
        assert issubclass(exc, ValueError)
        assert exc.__name__ == name
        assert exc.__module__ == "zarvi"


def test_all_lists_names_in_order():
    # The writer's names join at their places once it is built.
    assert core.__all__ == [n for n in ALL if n not in WRITER or hasattr(core, n)]
    for name in core.__all__:
        assert hasattr(core, name)


CLASSES = ["Diagnostic", "Document", "Segment", "Result", "Spec", "Batch", "Stream", "Table",
           "Tables"]


DOCS = {
    "Document": "The file, indexed into segments and held byte for byte.",
    "Segment": "One segment of a document, read from the document on access.",
    "Result": "What one parse produced.",
    "Tables": "The tables of one parse or one batch, by name. Shared, never copied.",
    "Table": "One projected table. Shares the tables it belongs to.",
}


@pytest.mark.parametrize("name", CLASSES)
def test_classes_without_constructor(name):
    cls = getattr(core, name)
    assert cls.__module__ == "zarvi" and cls.__qualname__ == name
    if name in DOCS:
        assert cls.__doc__ == DOCS[name]
    if name == "Stream":
        assert cls.__doc__.startswith(
            "Iterates the batches of a file. Each step runs with the GIL released.\n\n")
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
    ],
    ids=["parse", "stream", "_loop_paths"],
)
def test_function_signatures(function, parameters):
    assert str(inspect.signature(function)) == parameters
    assert function.__module__ == "zarvi._core"
