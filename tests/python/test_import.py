"""Outside tables given to zarvi.write: pyarrow, polars and pandas, and the
refusals of values that do not fit the spec's columns."""
import collections.abc
import ctypes
import decimal
import errno
import locale
import sys
import types

import pandas as pd
import polars as pl
import pyarrow as pa
import pytest

import zarvi
from x12_input import ENVELOPE, SIMPLE

TABLES = zarvi.parse(SIMPLE).tables
CLAIM_COLUMNS = ", ".join(f'"{c}"' for c in TABLES["claims"].columns)
SPEC_TABLES = ", ".join(f'"{n}"' for n in TABLES)
WRONG = ("write: tables must be the tables of a parse or a mapping of table names to Arrow, "
         "Polars or pandas tables")
C = 'table "claims" column'


def refusal(tables):
    with pytest.raises(zarvi.WriteError) as caught:
        zarvi.write(tables, ENVELOPE)
    assert caught.value.findings == []
    return caught.value.message


def claims(**columns):
    return {"claims": pa.table(columns)}


def batches(*parts, fail_third=False):
    """A record batch reader over one-column batches of "row" values."""
    schema = pa.schema([("row", pa.float64())])

    def generate():
        for i, values in enumerate(parts):
            if fail_third and i == 2:
                raise RuntimeError("the third batch is gone")
            yield pa.record_batch([pa.array(values, pa.float64())], schema=schema)
    return pa.RecordBatchReader.from_batches(schema, generate())


def cannot_hold(column, arrow, spec, row=0):
    return f"{C} \"{column}\" row {row}: an Arrow {arrow} column cannot hold the spec's {spec} values"


# "…" separates pieces the message holds in order after its start.
@pytest.mark.parametrize("tables, expected", [
    ({"nope": pa.table({"row": [1]})},
     f'table "nope" is not a table of the spec, whose tables are {SPEC_TABLES}'),
    (type("Tables", (dict,), {})(nope=pa.table({"row": [1]})), 'table "nope" is not a table'),
    ([TABLES["claims"]], WRONG),
    (claims(row=[1], bogus=[2]),
     f'table "claims" has no column "bogus" in the spec; its columns are {CLAIM_COLUMNS}'),
    ({"claims": pd.DataFrame({"row": [0, 1]}, index=pd.Index([5, 6], name="claim"))},
     'table "claims" has no column "claim" in the spec'),
    ({"claims": pa.Table.from_arrays([pa.array([1]), pa.array([2])], names=["row", "row"])},
     'table "claims" could not be read: the column "row" appears more than once'),
    (claims(charge_amount=[1.0]),
     f'{C} "charge_amount" row 0: an Arrow Float64 column is refused for the spec\'s '
     "decimal128(38, 2) values: a float may not hold the amount exactly; give decimal values "
     "(decimal.Decimal in Python)"),
    (claims(charge_amount=[1]), cannot_hold("charge_amount", "Int64", "decimal128(38, 2)")),
    (claims(charge_amount=pa.array([decimal.Decimal("12.345")], pa.decimal128(5, 3))),
     f"{C} \"charge_amount\" row 0: 12345 at scale 3 has more decimals than the column's scale 2"),
    (claims(statement_from=["2026-01-05"]), cannot_hold("statement_from", "Utf8", "date32")),
    ({"claims": pl.DataFrame({"statement_from": ["2026-01-05"]})},
     cannot_hold("statement_from", "Utf8View", "date32")),
    (claims(statement_from=pa.array([0, 86401], pa.timestamp("s"))),
     f'{C} "statement_from" row 1: timestamp 86401 is not at midnight; give dates'),
    (claims(row=pa.array([1, 2**63], pa.uint64())),
     f'{C} "row" row 1: 9223372036854775808 does not fit a 64-bit integer'),
    (claims(charge_amount=pa.array([1], pa.uint64())),
     cannot_hold("charge_amount", "UInt64", "decimal128(38, 2)")),
    (claims(claim_id=pa.array([0], pa.date32())), cannot_hold("claim_id", "Date32", "binary")),
    (claims(row=[1.0, 1.5]), f'{C} "row" row 1: 1.5 is not a whole number'),
    (claims(row=[1e20]), f'{C} "row" row 0: 100000000000000000000 is not a whole number'),
    (claims(claim_id=[None, 7]), cannot_hold("claim_id", "Int64", "binary", row=1)),
    (claims(row=pa.nulls(2), claim_id=pa.array([True, True])),
     cannot_hold("claim_id", "Boolean", "binary")),
    (claims(statement_from=pa.array([{"a": 1}])),
     cannot_hold("statement_from", "Struct(a: Int64)", "date32")),
    ({"claims": pl.DataFrame({"statement_from": [{"a": 1}]})},
     cannot_hold("statement_from", "Struct(a: Int64)", "date32")),
    ({"claims": pd.DataFrame({"statement_from": [{"a": 1}]})},
     cannot_hold("statement_from", "Struct(a: Int64)", "date32")),
    (claims(statement_from=pa.array([[1]], pa.list_(pa.int64(), 1))),
     cannot_hold("statement_from", "FixedSizeList(1, Int64)", "date32")),
    (claims(statement_from=pa.DictionaryArray.from_arrays([0], pa.array([{"a": 1}]))),
     cannot_hold("statement_from", "Struct(a: Int64)", "date32")),
    (claims(statement_from=pa.array([0] * 100000, pa.int8()).slice(99999)),
     cannot_hold("statement_from", "Int8", "date32")),
    ({"claims": batches([1, 2], [3], [4, 5.5])}, f'{C} "row" row 4: 5.5 is not a whole number'),
    ({"claims": batches([1], [2], [3], fail_third=True)},
     'table "claims" could not be read: …the third batch is gone'),
], ids=["unknown table", "dict subclass", "list", "unknown column", "pandas index",
        "duplicate column", "float for decimal", "integer for decimal", "more decimals",
        "string for date", "polars string for date", "timestamp past midnight", "uint64 too big",
        "uint64 for decimal", "date for binary", "fraction", "huge float", "int for binary",
        "bool for binary", "struct for date", "polars struct for date", "pandas struct for date",
        "fixed-size list for date", "dictionary of structs for date", "far-sliced int8 for date",
        "third batch value", "third batch fails"])
def test_refusals(tables, expected):
    message = refusal(tables)
    start, *pieces = expected.split("…")
    assert message.startswith(start) and all(p in message for p in pieces), message


def producer(stream):
    """A table whose __arrow_c_stream__ is given."""
    return types.SimpleNamespace(__arrow_c_stream__=lambda requested_schema=None: stream())


@pytest.mark.parametrize("table, error, match", [
    (pa.chunked_array([[1]]), ValueError, "the stream's schema is Int64, not a struct of columns"),
    (producer(lambda: {}["no stream"]), KeyError, "no stream"),
    (producer(lambda: 5), TypeError, r"__arrow_c_stream__\(\) returned int, not a PyCapsule"),
    (producer(pa.schema([("row", pa.int64())]).__arrow_c_schema__), ValueError,
     'returned a capsule named "arrow_schema", not "arrow_array_stream"'),
    (None, TypeError, "write: table names must be str, not int"),
], ids=["not a struct", "producer raises", "not a capsule", "schema capsule", "key not str"])
def test_python_errors(table, error, match):
    with pytest.raises(error, match=match):
        zarvi.write({"claims": table} if table is not None else {1: TABLES["claims"]}, ENVELOPE)


class Items(collections.abc.Mapping):
    """A mapping of one claims table whose items fail as `fail` says."""

    def __init__(self, fail, error):
        self.fail, self.error = fail, error

    def __getitem__(self, name):
        if self.fail == "getitem":
            raise self.error
        return TABLES[name]

    def __len__(self):
        return 1

    def __iter__(self):
        yield "claims"
        if self.fail == "iter":
            raise self.error

    def items(self):
        if self.fail == "items":
            raise self.error
        return super().items()


@pytest.mark.parametrize("fail", ["items", "iter", "getitem"])
def test_a_failure_while_the_items_are_read_is_raised_unchanged(fail):
    error = LookupError("the items are gone")
    with pytest.raises(LookupError) as caught:
        zarvi.write(Items(fail, error), ENVELOPE)
    assert caught.value is error and str(caught.value) == "the items are gone"


def test_a_mapping_whose_class_fails_is_refused():
    class Broken:
        @property
        def __class__(self):
            raise RuntimeError("no class")
    hooked = []
    old, sys.unraisablehook = sys.unraisablehook, hooked.append
    try:
        assert refusal(Broken()) == WRONG
    finally:
        sys.unraisablehook = old
    assert [type(h.exc_value) for h in hooked] == [RuntimeError]


def test_other_representations_write_the_same_bytes():
    expected, _ = zarvi.write(TABLES, ENVELOPE)
    copy = {n: pa.table(TABLES[n]) for n in TABLES}
    for table, column, convert in [
            ("claims", "claim_status", lambda c: c.dictionary_encode()),
            ("claims", "statement_from", lambda c: c.cast(pa.timestamp("ms"))),
            ("claims", "charge_amount", lambda c: c.cast(pa.decimal128(20, 3))),
            ("services", "units_paid", lambda c: c.cast(pa.decimal128(10, 0))),
            ("claims", "row", lambda c: c.cast(pa.uint32())),
            ("claims", "claim_id", lambda c: c.cast(pa.large_binary())),
            ("payments", "trace_number", lambda c: c.cast(pa.string_view()))]:
        t = copy[table]
        copy[table] = t.set_column(t.schema.get_field_index(column), column,
                                   convert(t.column(column)))
    assert zarvi.write(copy, ENVELOPE)[0] == expected
    frames = TABLES.to_polars()
    frames["claims"] = frames["claims"].with_columns(
        pl.col("claim_status").cast(pl.String).cast(pl.Categorical),
        pl.col("statement_from").cast(pl.Datetime("us")))
    assert zarvi.write(frames, ENVELOPE)[0] == expected


class _Schema(ctypes.Structure):
    pass


class _Stream(ctypes.Structure):
    pass


_Schema._fields_ = [
    ("format", ctypes.c_char_p), ("name", ctypes.c_char_p), ("metadata", ctypes.c_char_p),
    ("flags", ctypes.c_int64), ("n_children", ctypes.c_int64),
    ("children", ctypes.c_void_p), ("dictionary", ctypes.c_void_p),
    ("release", ctypes.c_void_p), ("private_data", ctypes.c_void_p)]
_GET_SCHEMA = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(_Stream), ctypes.POINTER(_Schema))
_GET_NEXT = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(_Stream), ctypes.c_void_p)
_LAST_ERROR = ctypes.CFUNCTYPE(ctypes.c_char_p, ctypes.POINTER(_Stream))
_RELEASE = ctypes.CFUNCTYPE(None, ctypes.POINTER(_Stream))
_Stream._fields_ = [("get_schema", _GET_SCHEMA), ("get_next", _GET_NEXT),
                    ("get_last_error", _LAST_ERROR), ("release", _RELEASE),
                    ("private_data", ctypes.c_void_p)]
_capsule = ctypes.pythonapi.PyCapsule_New
_capsule.restype = ctypes.py_object
_capsule.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]


class FailsWithCode:
    """A producer whose stream fails with an errno code and gives no text."""

    def __init__(self, code):
        def release(stream):
            stream.contents.release = _RELEASE()

        self.callbacks = (_GET_SCHEMA(lambda stream, out: code), _GET_NEXT(lambda s, out: code),
                          _LAST_ERROR(lambda stream: None), _RELEASE(release))
        self.stream = _Stream(*self.callbacks, None)

    def __arrow_c_stream__(self, requested_schema=None):
        return _capsule(ctypes.addressof(self.stream), b"arrow_array_stream", None)


# The same English words whatever the locale's language.
def test_a_failure_code_reads_the_same_in_every_locale():
    before = locale.setlocale(locale.LC_ALL)
    for name in ("de_DE.UTF-8", "fr_FR.UTF-8", "C.UTF-8"):
        try:
            locale.setlocale(locale.LC_ALL, name)
            break
        except locale.Error:
            pass
    try:
        with pytest.raises(ValueError) as caught:
            zarvi.write({"claims": FailsWithCode(errno.EINVAL)}, ENVELOPE)
    finally:
        locale.setlocale(locale.LC_ALL, before)
    assert str(caught.value).endswith(f"the stream failed with error {errno.EINVAL} (EINVAL)")
