import datetime
import decimal
import gc
import os
import subprocess
import sys

import pandas as pd
import polars as pl
import pyarrow as pa
import pytest

import zarvi
from x12_input import ENVELOPE, interchange, payment

FILE = interchange(
    payment(claims=[("C1", "P1", "100"), ("C2", "P2", "20.5"), ("C3", "P3", "7")]),
    newline="\n",
)
CLAIM_IDS = [b"C1", b"C2", b"C3"]


@pytest.fixture(scope="module")
def tables():
    return zarvi.parse(FILE).tables


def test_tables_and_table(tables):
    names = ["adjustments", "claims", "payments", "provider_adjustments", "services"]
    assert len(tables) == 5
    assert list(tables) == tables.keys() == names
    assert "claims" in tables and "nope" not in tables
    assert tables.keys() is not tables.keys()
    assert repr(tables) == ("Tables(adjustments: 0 rows, claims: 3 rows, payments: 1 rows, "
                            "provider_adjustments: 0 rows, services: 0 rows)")
    with pytest.raises(KeyError) as caught:
        tables["x"]
    assert caught.value.args == (f'there is no table "x"; the tables are: {", ".join(names)}',)
    for bad in (lambda: tables[1], lambda: 1 in tables):
        with pytest.raises(TypeError, match="argument 'name' must be str, not int"):
            bad()
    assert tables.spec.to_json() == zarvi.Spec.builtin().to_json()
    claims = tables["claims"]
    assert (len(claims), claims.name, claims.columns[:3]) == (3, "claims", ["row", "segment", "payment"])
    assert repr(claims) == f"Table(name='claims', rows=3, columns={len(claims.columns)})"
    text = claims.render()
    assert text.startswith("## claims (rows: 3)\nrow: int64 | segment: int64 | ")
    assert text.endswith("\n\n") and text.count("\n") == 6
    assert tables.render() == "".join(tables[n].render() for n in tables)


def test_values_and_types_through_pyarrow(tables):
    for name in tables:
        pa.table(tables[name]).validate(full=True)
    payments = pa.table(tables["payments"])
    names = ("total_payment_amount", "payment_date", "trace_number", "row")
    assert [payments.schema.field(n).type for n in names] == [
        pa.decimal128(38, 2), pa.date32(), pa.binary(), pa.int64()]
    assert payments.schema.field("row").metadata is None
    assert all(f.nullable for f in payments.schema)
    row = payments.to_pylist()[0]
    assert [row[n] for n in ("total_payment_amount", "payment_date", "trace_number", "payee_zip")
            ] == [decimal.Decimal("127.50"), datetime.date(2026, 1, 5), b"EFT0001", None]
    assert pa.table(tables["claims"]).column("claim_id").to_pylist() == CLAIM_IDS


def test_int64_scale_and_time32():
    spec = zarvi.Spec.builtin().patch('{"balancing": {"transaction_balance": null}, '
                                     '"segments": {"BPR": {"elements": {"2": {"type": "N2"}}}}}')
    result = zarvi.parse(FILE.replace(b"*127.5*", b"*12750*"), spec=spec)
    assert result.tables.spec.to_json() == spec.to_json()
    field = pa.schema(result.tables["payments"]).field("total_payment_amount")
    assert (field.type, field.metadata) == (pa.int64(), {b"scale": b"2"})
    assert pa.table(result.tables["payments"])["total_payment_amount"].to_pylist() == [12750]
    # The compatibility spec's interchange table holds a time32 column.
    spec = zarvi.Spec.builtin().patch(zarvi.EDI_835_PARSER_PATCH)
    table = pa.table(zarvi.parse(FILE, spec=spec).tables["rows_interchanges"])
    times = [f.name for f in table.schema if f.type == pa.time32("s")]
    assert times and table[times[0]].to_pylist() == [datetime.time(12, 0)]


def test_stream_and_array_capsules(tables):
    reader = pa.RecordBatchReader.from_stream(tables["claims"])
    assert [b.num_rows for b in reader] == [3]
    assert [b.num_rows for b in pa.RecordBatchReader.from_stream(tables["services"])] == [0]
    array = pa.array(tables["claims"])
    assert pa.types.is_struct(array.type) and len(array) == 3
    schema, arr = tables["claims"].__arrow_c_array__(requested_schema=object())
    assert (schema.__class__.__name__, arr.__class__.__name__) == ("PyCapsule", "PyCapsule")
    assert pa.schema(tables["claims"]) == reader.schema
    # Capsules that nobody imports are released by their destructor.
    for _ in range(3):
        tables["claims"].__arrow_c_stream__()
        tables["claims"].__arrow_c_array__()
        tables["claims"].__arrow_c_schema__()


def _addresses(table):
    return [b.address for c in table.columns for b in c.chunk(0).buffers() if b is not None]


def test_zero_copy(tables):
    first, second = pa.table(tables["claims"]), pa.table(tables["claims"])
    assert _addresses(first) == _addresses(second)
    via_stream = pa.RecordBatchReader.from_stream(tables["claims"]).read_all()
    assert _addresses(via_stream) == _addresses(first)


def test_arrow_data_outlives_the_result():
    result = zarvi.parse(FILE)
    table = pa.table(result.tables["claims"])
    reader = pa.RecordBatchReader.from_stream(result.tables["payments"])
    kept = result.tables["claims"]
    del result
    gc.collect()
    assert table.column("claim_id").to_pylist() == CLAIM_IDS
    assert reader.read_all().column("trace_number").to_pylist() == [b"EFT0001"]
    assert len(kept) == 3 and pa.table(kept).num_rows == 3


# Their values are checked by writing them back; here, their shape and types.
def test_pandas_and_polars(tables):
    assert list(tables["claims"].to_pandas()["claim_id"]) == CLAIM_IDS
    assert list(tables.to_pandas()) == list(tables.to_polars()) == tables.keys()
    frame = tables["claims"].to_polars()
    assert isinstance(frame, pl.DataFrame) and frame["payment_amount"].dtype == pl.Decimal(38, 2)
    assert pl.DataFrame(tables["payments"])["payment_date"].to_list() == [
        datetime.date(2026, 1, 5)]


@pytest.mark.parametrize(
    "call, owner, missing, extra",
    [
        (lambda t: t["claims"].to_pandas(), "Table.to_pandas", "pandas", "pandas"),
        (lambda t: t.to_polars(), "Tables.to_polars", "polars", "polars"),
        (lambda t: t.to_pandas(), "Tables.to_pandas", "pyarrow", "pandas"),
        (lambda t: zarvi.write({"claims": pd.DataFrame({"row": [1]})}, ENVELOPE), "zarvi.write",
         "pyarrow", "pandas"),
    ],
    ids=["table pandas", "tables polars", "pandas no pyarrow", "write pandas no pyarrow"],
)
def test_missing_optional_module(monkeypatch, tables, call, owner, missing, extra):
    monkeypatch.setitem(sys.modules, missing, None)  # makes the import fail
    with pytest.raises(ImportError) as caught:
        call(tables)
    assert str(caught.value) == (f"{owner} needs {missing}, which is not installed; install it "
                                 f'with: pip install "zarvi[{extra}]"')
    assert isinstance(caught.value.__cause__, ImportError)


def test_no_optional_module_is_imported_at_start():
    code = ("import sys, zarvi; "
            "print(sorted(m for m in ('pandas', 'polars', 'pyarrow') if m in sys.modules))")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                         check=True, env={**os.environ, "PYTHONPATH": ":".join(sys.path)})
    assert out.stdout.strip() == "[]"


# Names are compared as whole bytes, so a name may hold a NUL byte: a frame
# is keyed by its whole name, and a field name, a C string, refuses one.
def test_names_holding_nul():
    patch = {"claims\0x": {"loops": ["2100"], "segment": "CLP", "columns": {"id": {"element": 1}}}}
    tables = zarvi.parse(FILE, spec=zarvi.Spec.builtin().patch({"tables": patch})).tables
    for frames in (tables.to_pandas(), tables.to_polars()):
        assert list(frames) == tables.keys() and "claims\0x" in frames
        assert frames["claims"].shape == (3, len(tables["claims"].columns))
        assert frames["claims\0x"].shape == (3, len(tables["claims\0x"].columns))

    patch = {"payments": {"columns": {
        f"payer_name\0{c}": {"loop": "1000A", "segment": "N1", "element": 2} for c in "ab"}}}
    payments = zarvi.parse(FILE, spec=zarvi.Spec.builtin().patch({"tables": patch})).tables[
        "payments"]
    for export in (pa.table, pl.DataFrame, lambda t: t.__arrow_c_schema__(),
                   lambda t: t.__arrow_c_array__(), lambda t: t.__arrow_c_stream__()):
        with pytest.raises(RuntimeError) as caught:
            export(payments)
        assert str(caught.value) == (
            'table "payments" could not be exported to Arrow: column "payer_name\\0a" has a '
            "name holding a NUL byte, which an Arrow field name cannot hold")
