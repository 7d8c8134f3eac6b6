import datetime
import decimal
import gc
import sys

import pyarrow as pa
import pytest

import zarvi._core as core
from x12_input import interchange, payment

FILE = interchange(
    payment(claims=[("C1", "P1", "100"), ("C2", "P2", "20.5"), ("C3", "P3", "7")]),
    newline="\n",
)
# An N2 total payment makes an int64 column of scale 2.
N2_PATCH = ('{"balancing": {"transaction_balance": null}, '
            '"segments": {"BPR": {"elements": {"2": {"type": "N2"}}}}}')
TIME_SPEC_PATCH = core.EDI_835_PARSER_PATCH  # its interchange table holds a time32 column


@pytest.fixture(scope="module")
def tables():
    return core.parse(FILE).tables


def test_mapping(tables):
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


def test_iteration_takes_the_names_when_it_starts(tables):
    it = iter(tables)
    assert next(it) == "adjustments"
    assert list(it) == tables.keys()[1:]


def test_table(tables):
    claims = tables["claims"]
    assert len(claims) == 3
    assert claims.name == "claims"
    assert claims.columns[:3] == ["row", "segment", "payment"]
    assert repr(claims) == f"Table(name='claims', rows=3, columns={len(claims.columns)})"
    text = claims.render()
    assert text.startswith("## claims (rows: 3)\nrow: int64 | segment: int64 | ")
    assert text.endswith("\n\n") and text.count("\n") == 6
    assert tables.render() == "".join(tables[n].render() for n in tables)


def test_spec_is_the_projecting_spec():
    spec = core.Spec.builtin().patch(N2_PATCH)
    result = core.parse(FILE, spec=spec)
    assert result.tables.spec.to_json() == spec.to_json()
    assert core.parse(FILE).tables.spec.to_json() == core.Spec.builtin().to_json()


def test_values_and_types_through_pyarrow(tables):
    for name in tables:
        pa.table(tables[name]).validate(full=True)
    payments = pa.table(tables["payments"])
    fields = {f.name: f for f in payments.schema}
    assert fields["total_payment_amount"].type == pa.decimal128(38, 2)
    assert fields["payment_date"].type == pa.date32()
    assert fields["trace_number"].type == pa.binary()
    assert fields["row"].type == pa.int64() and fields["row"].metadata is None
    assert all(f.nullable for f in payments.schema)
    row = payments.to_pylist()[0]
    assert row["total_payment_amount"] == decimal.Decimal("127.50")
    assert row["payment_date"] == datetime.date(2026, 1, 5)
    assert row["trace_number"] == b"EFT0001"
    assert row["payee_zip"] is None

    claims = pa.table(tables["claims"])
    assert claims.column("claim_id").to_pylist() == [b"C1", b"C2", b"C3"]
    assert claims.column("row").to_pylist() == [0, 1, 2]


def test_int64_scale_metadata():
    spec = core.Spec.builtin().patch(N2_PATCH)
    payments = pa.table(core.parse(FILE.replace(b"*127.5*", b"*12750*"), spec=spec)
                        .tables["payments"])
    field = payments.schema.field("total_payment_amount")
    assert field.type == pa.int64()
    assert field.metadata == {b"scale": b"2"}
    assert payments.column("total_payment_amount").to_pylist() == [12750]


def test_time32():
    spec = core.Spec.builtin().patch(TIME_SPEC_PATCH)
    table = pa.table(core.parse(FILE, spec=spec).tables["rows_interchanges"])
    times = [f for f in table.schema if f.type == pa.time32("s")]
    assert times
    assert table.column(times[0].name).to_pylist() == [datetime.time(12, 0)]


def test_stream_and_array_capsules(tables):
    reader = pa.RecordBatchReader.from_stream(tables["claims"])
    batches = list(reader)
    assert len(batches) == 1 and batches[0].num_rows == 3
    empty = list(pa.RecordBatchReader.from_stream(tables["services"]))
    assert len(empty) == 1 and empty[0].num_rows == 0
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
    result = core.parse(FILE)
    table = pa.table(result.tables["claims"])
    reader = pa.RecordBatchReader.from_stream(result.tables["payments"])
    del result
    gc.collect()
    assert table.column("claim_id").to_pylist() == [b"C1", b"C2", b"C3"]
    assert reader.read_all().column("trace_number").to_pylist() == [b"EFT0001"]


def test_table_outlives_its_tables():
    table = core.parse(FILE).tables["claims"]
    gc.collect()
    assert len(table) == 3 and table.render().startswith("## claims")
    assert pa.table(table).num_rows == 3


def test_pandas_and_polars(tables):
    polars = pytest.importorskip("polars")
    frame = tables["claims"].to_pandas()
    assert list(frame["claim_id"]) == [b"C1", b"C2", b"C3"]
    frames = tables.to_pandas()
    assert list(frames) == tables.keys()
    assert len(frames["services"]) == 0
    pl = tables["claims"].to_polars()
    assert isinstance(pl, polars.DataFrame)
    assert pl["claim_id"].to_list() == [b"C1", b"C2", b"C3"]
    assert pl["payment_amount"].dtype == polars.Decimal(38, 2)
    assert polars.DataFrame(tables["payments"])["payment_date"].to_list() == [
        datetime.date(2026, 1, 5)]
    assert list(tables.to_polars()) == tables.keys()


@pytest.mark.parametrize(
    "call, owner, missing, extra",
    [
        (lambda t: t["claims"].to_pandas(), "Table.to_pandas", "pandas", "pandas"),
        (lambda t: t.to_polars(), "Tables.to_polars", "polars", "polars"),
        (lambda t: t.to_pandas(), "Tables.to_pandas", "pyarrow", "pandas"),
    ],
    ids=["table pandas", "tables polars", "pandas no pyarrow"],
)
def test_missing_optional_module(monkeypatch, tables, call, owner, missing, extra):
    monkeypatch.setitem(sys.modules, missing, None)  # makes the import fail
    with pytest.raises(ImportError) as caught:
        call(tables)
    assert str(caught.value) == (f"{owner} needs {missing}, which is not installed; install it "
                                 f'with: pip install "zarvi[{extra}]"')
    assert isinstance(caught.value.__cause__, ImportError)


def test_no_optional_module_is_imported_at_start():
    import os
    import subprocess
    code = ("import sys, zarvi._core as c; "
            "print(sorted(m for m in ('pandas', 'polars', 'pyarrow') if m in sys.modules))")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                         check=True, env={**os.environ, "PYTHONPATH": ":".join(sys.path)})
    assert out.stdout.strip() == "[]"
