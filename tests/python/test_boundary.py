import ctypes
import pathlib

import pytest

import zarvi

SIMPLE = (pathlib.Path(__file__).parents[1] / "data" / "simple_5010.835").read_bytes()
PY_TP_CLEAR = 51  # the slot number of tp_clear in the stable ABI


def _collector_clear(obj):
    """Runs the type's tp_clear on obj, as the garbage collector does to every
    object of a cycle it breaks, while obj itself stays alive."""
    get_slot = ctypes.pythonapi.PyType_GetSlot
    get_slot.restype = ctypes.c_void_p
    get_slot.argtypes = [ctypes.py_object, ctypes.c_int]
    clear = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.py_object)(get_slot(type(obj), PY_TP_CLEAR))
    assert clear(obj) == 0


def _result():
    return zarvi.parse(SIMPLE)


def _batch():
    return next(zarvi.stream(SIMPLE))


@pytest.mark.parametrize(
    "make, use",
    [
        (_result, lambda r: r.document),
        (_result, lambda r: r.tables),
        (_result, lambda r: r.diagnostics),
        (_result, lambda r: r.spec),
        (_result, lambda r: r.payer),
        (_result, lambda r: r.count_claims()),
        (_result, lambda r: r.count_patients()),
        (_result, lambda r: r.sum_payments()),
        (_result, repr),
        (_result, lambda r: zarvi._loop_paths(r, [0])),
        (_batch, lambda b: b.tables),
        (_batch, lambda b: b.diagnostics),
        (_batch, repr),
    ],
    ids=["document", "tables", "diagnostics", "spec", "payer", "count_claims",
         "count_patients", "sum_payments", "repr", "_loop_paths", "batch.tables",
         "batch.diagnostics", "batch.repr"],
)
def test_objects_cleared_by_the_collector_raise(make, use):
    obj = make()
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
