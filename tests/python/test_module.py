import ctypes
import functools
import importlib.metadata
import inspect
import operator
import pathlib

import pytest

import zarvi
import zarvi._core
from zarvi import Spec, _external_diagnostic
from x12_input import SIMPLE

# Every name of the module, in the order start-up adds them.
ALL = ["ParseError", "SpecError", "Diagnostic", "Delimiters", "Document", "Segment", "Result",
       "Spec", "Batch", "Stream", "Table", "Tables", "Envelope", "WriteFinding",
       "_external_diagnostic", "parse", "_loop_paths", "stream", "_write",
       "EDI_835_PARSER_PATCH"]
NO_CONSTRUCTOR = ["Diagnostic", "Document", "Segment", "Result", "Spec", "Batch", "Stream",
                  "Table", "Tables", "WriteFinding"]
PY_TP_CLEAR = 51  # the slot number of tp_clear in the stable ABI


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


SIGNATURES = {
    "parse": (zarvi.parse, "(data, spec=None, delimiters=None)"),
    "stream": (zarvi.stream, "(data, spec=None, by='transaction', delimiters=None)"),
    "_loop_paths": (zarvi._loop_paths, "(result, segments)"),
    "_write": (zarvi._core._write, "(tables, envelope, spec=None, allow_findings=False)"),
    "Spec.builtin": (Spec.builtin, "(version='5010')"),
    "_external_diagnostic": (_external_diagnostic, "(origin, message, level, code=None, "
                             "segment=None, element=None, component=None, datum=b'', path=None)"),
    "Envelope": (zarvi.Envelope, "(*, sender_id, receiver_id, date, time, sender_qualifier='ZZ', "
                 "receiver_qualifier='ZZ', usage_indicator='P', control_number=1, "
                 "application_sender=None, application_receiver=None, delimiters=None, "
                 "line_break=False)"),
}


@pytest.mark.parametrize("function, parameters", SIGNATURES.values(), ids=SIGNATURES.keys())
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


PUBLIC = dict(_public_callables())


@pytest.mark.parametrize("function", PUBLIC.values(), ids=PUBLIC.keys())
def test_every_public_callable_has_a_signature_and_a_doc(function):
    # A malformed first line leaves the signature unreadable and in the text.
    inspect.signature(function)
    assert function.__doc__ and "--\n" not in function.__doc__


# The docstrings every reader of the module sees, exactly; the longer
# reference texts live in the stub, where editors read them.
DOCSTRINGS = {
    "": "The `zarvi._core` extension module.",
    "ParseError": "Input that cannot be indexed: its delimiters cannot be read or it exceeds the "
                  "size limit; the message says what was found and where.",
    "SpecError": "A spec that cannot be loaded or patched; the message names the rule, the loop "
                 "and key, and the datum.",
    "Result": "What one parse produced.",
    "Result.count_claims": "The rows of `claims`.",
    "Stream": "Iterates the batches of a file. Each step runs with the GIL released.\n\n"
              "A stream must be advanced from one thread at a time: a next() that finds\n"
              "another thread inside a step raises a RuntimeError naming the stream\n"
              "(unlike a generator, which raises ValueError).",
    "Batch.tables": "The rows appended since the previous batch, by table.",
    "Batch.diagnostics": "The diagnostics emitted since the previous batch, in stream order.",
    "Delimiters": "The five delimiters of an interchange.",
    "Delimiters.repetition": "The repetition separator, one byte, or `None` when the file has "
                             "none.",
    "Delimiters.release": "The release character, one byte, or `None` when it is not in use.",
    "Document": "The file, indexed into segments and held byte for byte.",
    "Document.write": "The file, byte for byte.",
    "Segment": "One segment of a document, read from the document on access.",
    "Spec": "The loop structure, element definitions and tables of a file format.",
    "Spec.builtin": "The built-in 835 spec of `version`, `\"5010\"` (the default) or\n"
                    "`\"4010\"`; raises `ValueError` for any other version.",
    "Spec.from_json": "The spec described by `json`; raises `SpecError` with the core message\n"
                      "when it is not valid.",
    "Spec.patch": "A new spec with `patch` (a dict or JSON text) merged over this one;\n"
                  "raises `SpecError` when the result is not valid.",
    "Spec.to_json": "The spec as JSON text.",
    "Spec.loops": "The loop names, in spec order.",
    "Diagnostic": "One finding about the data of a file. A value, never raised.",
    "Tables": "The tables of one parse or one batch, by name. Shared, never copied.",
    "Table": "One projected table. Shares the tables it belongs to.",
}


@pytest.mark.parametrize("path, text", DOCSTRINGS.items(), ids=[p or "module" for p in DOCSTRINGS])
def test_docstrings(path, text):
    obj = functools.reduce(getattr, filter(None, path.split(".")), zarvi._core)
    assert obj.__doc__ == text


def _collector_clear(obj):
    """Runs the type's tp_clear on obj, as the garbage collector does to every
    object of a cycle it breaks, while obj itself stays alive."""
    get_slot = ctypes.pythonapi.PyType_GetSlot
    get_slot.restype = ctypes.c_void_p
    get_slot.argtypes = [ctypes.py_object, ctypes.c_int]
    clear = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.py_object)(get_slot(type(obj), PY_TP_CLEAR))
    assert clear(obj) == 0


CLEARED = {
    **{n: (zarvi.parse, operator.attrgetter(n))
       for n in ("document", "tables", "diagnostics", "spec", "payer")},
    **{n: (zarvi.parse, operator.methodcaller(n))
       for n in ("count_claims", "count_patients", "sum_payments")},
    "repr": (zarvi.parse, repr),
    "_loop_paths": (zarvi.parse, lambda r: zarvi._loop_paths(r, [0])),
    "batch.tables": (lambda data: next(zarvi.stream(data)), operator.attrgetter("tables")),
    "batch.diagnostics": (lambda data: next(zarvi.stream(data)),
                          operator.attrgetter("diagnostics")),
    "batch.repr": (lambda data: next(zarvi.stream(data)), repr),
}


@pytest.mark.parametrize("make, use", CLEARED.values(), ids=CLEARED.keys())
def test_objects_cleared_by_the_collector_raise(make, use):
    obj = make(SIMPLE)
    _collector_clear(obj)
    with pytest.raises(RuntimeError, match="cleared by the garbage collector"):
        use(obj)


def test_subinterpreter_import_is_refused():
    interpreters = pytest.importorskip("_xxsubinterpreters")
    package_root = str(pathlib.Path(zarvi.__file__).parents[1])
    interp = interpreters.create()
    try:
        with pytest.raises(interpreters.RunFailedError,
                           match="ImportError.*cannot be imported in a subinterpreter"):
            interpreters.run_string(
                interp, f"import sys; sys.path.insert(0, {package_root!r}); import zarvi")
    finally:
        interpreters.destroy(interp)
