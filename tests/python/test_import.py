"""Outside tables given to zarvi.write: pyarrow, polars and pandas, and the
refusals of values that do not fit the spec's columns."""
import datetime
import decimal
import pathlib
import subprocess
import sys

import pandas as pd
import polars as pl
import pyarrow as pa
import pytest

import zarvi

DATA = pathlib.Path(__file__).resolve().parents[1] / "data" / "simple_5010.835"
ENVELOPE = zarvi.Envelope(sender_id="ACMEHEALTH", receiver_id="GOODCLINIC",
                          date=datetime.date(2026, 1, 5), time=datetime.time(12, 0))
TABLES = zarvi.parse(DATA.read_bytes()).tables
CLAIM_COLUMNS = ", ".join(f'"{c}"' for c in TABLES["claims"].columns)
SPEC_TABLES = ", ".join(f'"{n}"' for n in TABLES)


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


@pytest.mark.parametrize("tables, expected", [
    ({"nope": pa.table({"row": [1]})},
     f'table "nope" is not a table of the spec, whose tables are {SPEC_TABLES}'),
    (claims(row=[1], bogus=[2]),
     f'table "claims" has no column "bogus" in the spec; its columns are {CLAIM_COLUMNS}'),
    ({"claims": pa.Table.from_arrays([pa.array([1]), pa.array([2])], names=["row", "row"])},
     'table "claims" could not be read: the column "row" appears more than once'),
    (claims(charge_amount=[1.0]),
     'table "claims" column "charge_amount" row 0: an Arrow Float64 column is refused for the '
     "spec's decimal128(38, 2) values: a float may not hold the amount exactly; give decimal "
     "values (decimal.Decimal in Python)"),
    (claims(charge_amount=[1]),
     'table "claims" column "charge_amount" row 0: an Arrow Int64 column cannot hold the '
     "spec's decimal128(38, 2) values"),
    (claims(charge_amount=pa.array([decimal.Decimal("12.345")], pa.decimal128(5, 3))),
     'table "claims" column "charge_amount" row 0: 12345 at scale 3 has more decimals than the '
     "column's scale 2"),
    (claims(statement_from=["2026-01-05"]),
     "table \"claims\" column \"statement_from\" row 0: an Arrow Utf8 column cannot hold the "
     "spec's date32 values"),
    ({"claims": pl.DataFrame({"statement_from": ["2026-01-05"]})},
     "table \"claims\" column \"statement_from\" row 0: an Arrow Utf8View column cannot hold "
     "the spec's date32 values"),
    (claims(statement_from=pa.array([0, 86401], pa.timestamp("s"))),
     'table "claims" column "statement_from" row 1: timestamp 86401 is not at midnight; give '
     "dates"),
    (claims(row=pa.array([1, 2**63], pa.uint64())),
     'table "claims" column "row" row 1: 9223372036854775808 does not fit a 64-bit integer'),
    (claims(charge_amount=pa.array([1], pa.uint64())),
     'table "claims" column "charge_amount" row 0: an Arrow UInt64 column cannot hold the '
     "spec's decimal128(38, 2) values"),
    (claims(claim_id=pa.array([0], pa.date32())),
     "table \"claims\" column \"claim_id\" row 0: an Arrow Date32 column cannot hold the "
     "spec's binary values"),
    (claims(row=[1.0, 1.5]), 'table "claims" column "row" row 1: 1.5 is not a whole number'),
    (claims(row=[1e20]),
     'table "claims" column "row" row 0: 100000000000000000000 is not a whole number'),
    (claims(claim_id=[None, 7]),
     "table \"claims\" column \"claim_id\" row 1: an Arrow Int64 column cannot hold the spec's "
     "binary values"),
    (claims(row=pa.nulls(2), claim_id=pa.array([True, True])),
     "table \"claims\" column \"claim_id\" row 0: an Arrow Boolean column cannot hold the spec's "
     "binary values"),
    ({"claims": batches([1, 2], [3], [4, 5.5])},
     'table "claims" column "row" row 4: 5.5 is not a whole number'),
    ({"claims": batches([1, 2], [3], [4], fail_third=True)},
     'table "claims" could not be read: '),
], ids=["unknown table", "unknown column", "duplicate column", "float for decimal",
        "integer for decimal", "more decimals", "string for date", "polars string for date",
        "timestamp past midnight", "uint64 too big", "uint64 for decimal", "date for binary",
        "fraction", "huge float", "int for binary",
        "bool for binary", "third batch value", "third batch fails"])
def test_refusals(tables, expected):
    assert refusal(tables).startswith(expected)


def test_failing_batch_names_the_producers_error():
    message = refusal({"claims": batches([1], [2], [3], fail_third=True)})
    assert "the third batch is gone" in message


@pytest.mark.parametrize("tables, error, match", [
    ({1: pa.table({"row": [1]})}, TypeError, "write: table names must be str, not int"),
    ({"claims": pa.chunked_array([[1]])}, ValueError,
     "the stream's schema is Int64, not a struct of columns"),
], ids=["key not str", "not a struct"])
def test_python_errors(tables, error, match):
    with pytest.raises(error, match=match):
        zarvi.write(tables, ENVELOPE)


class Producer:
    """A table whose __arrow_c_stream__ is given."""

    def __init__(self, stream):
        self.stream = stream

    def __arrow_c_stream__(self, requested_schema=None):
        return self.stream()


def test_capsule_errors():
    def fails():
        raise KeyError("no stream")
    with pytest.raises(KeyError, match="no stream"):
        zarvi.write({"claims": Producer(fails)}, ENVELOPE)
    with pytest.raises(TypeError, match=r"__arrow_c_stream__\(\) returned int, not a PyCapsule"):
        zarvi.write({"claims": Producer(lambda: 5)}, ENVELOPE)
    schema_capsule = pa.schema([("row", pa.int64())]).__arrow_c_schema__
    with pytest.raises(ValueError, match='returned a capsule named "arrow_schema", not '
                                         '"arrow_array_stream"'):
        zarvi.write({"claims": Producer(schema_capsule)}, ENVELOPE)


def test_mapping_kinds():
    class Tables(dict):
        pass

    class Broken:
        @property
        def __class__(self):
            raise RuntimeError("no class")

    wrong = ("write: tables must be the tables of a parse or a mapping of table names to Arrow, "
             "Polars or pandas tables")
    assert refusal([TABLES["claims"]]) == wrong
    hooked = []
    old, sys.unraisablehook = sys.unraisablehook, hooked.append
    try:
        assert refusal(Broken()) == wrong
    finally:
        sys.unraisablehook = old
    assert [type(h.exc_value) for h in hooked] == [RuntimeError]
    assert refusal(Tables(nope=pa.table({"row": [1]}))).startswith('table "nope" is not')


def test_pandas_index_is_an_unknown_column():
    frame = pd.DataFrame({"row": [0, 1]}, index=pd.Index([5, 6], name="claim"))
    assert refusal({"claims": frame}).startswith('table "claims" has no column "claim" in the spec')


def test_pandas_without_pyarrow():
    code = ("import sys; sys.modules['pyarrow'] = None\n"
            "import datetime, pandas, zarvi\n"
            "e = zarvi.Envelope(sender_id='a', receiver_id='b', date=datetime.date(2026, 1, 5), "
            "time=datetime.time(0))\n"
            "try:\n"
            "    zarvi.write({'claims': pandas.DataFrame({'row': [1]})}, e)\n"
            "except ImportError as error:\n"
            "    print(error, '|', type(error.__cause__).__name__)\n")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == ('zarvi.write needs pyarrow, which is not installed; install it '
                                  'with: pip install "zarvi[pandas]" | ModuleNotFoundError')


def test_other_representations_write_the_same_bytes():
    expected, _ = zarvi.write(TABLES, ENVELOPE)
    copy = {n: pa.table(TABLES[n]) for n in TABLES}

    def replace(table, column, convert):
        t = copy[table]
        i = t.schema.get_field_index(column)
        copy[table] = t.set_column(i, column, convert(t.column(column)))
    replace("claims", "claim_status", lambda c: c.dictionary_encode())
    replace("claims", "statement_from", lambda c: c.cast(pa.timestamp("ms")))
    replace("claims", "charge_amount", lambda c: c.cast(pa.decimal128(20, 3)))
    replace("services", "units_paid", lambda c: c.cast(pa.decimal128(10, 0)))
    replace("claims", "row", lambda c: c.cast(pa.uint32()))
    replace("claims", "claim_id", lambda c: c.cast(pa.large_binary()))
    replace("payments", "trace_number", lambda c: c.cast(pa.string_view()))
    assert zarvi.write(copy, ENVELOPE)[0] == expected
    frames = TABLES.to_polars()
    frames["claims"] = frames["claims"].with_columns(
        pl.col("claim_status").cast(pl.String).cast(pl.Categorical),
        pl.col("statement_from").cast(pl.Datetime("us")))
    assert zarvi.write(frames, ENVELOPE)[0] == expected
