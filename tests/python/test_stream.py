import threading
import time

import pyarrow as pa
import pytest

import zarvi
from x12_input import SIMPLE, interchange, payment, slow_input

THREE = interchange(payment(claims=[("A1", "P1", "10"), ("A2", "P2", "5")]),
                    payment(claims=[("B1", "P3", "7")]),
                    payment(claims=[("C1", "P4", "1"), ("C2", "P5", "2"), ("C3", "P6", "3")]))


def rows(batches, table):
    return [len(b.tables[table]) for b in batches]


def test_one_batch_per_transaction():
    batches = list(zarvi.stream(THREE))
    assert rows(batches, "claims") == [2, 1, 3]
    assert repr(batches[0]) == (
        "Batch(tables=Tables(adjustments: 0 rows, claims: 2 rows, payments: 1 rows, "
        "provider_adjustments: 0 rows, services: 0 rows), diagnostics=0)")
    assert batches[0].diagnostics is batches[0].diagnostics == []
    assert batches[0].tables.spec.to_json() == zarvi.Spec.builtin().to_json()
    # Joined in order, the batches are the parse: row numbers continue.
    parsed = zarvi.parse(THREE).tables
    for name in parsed:
        joined = pa.concat_tables(pa.table(b.tables[name]) for b in batches)
        assert joined.equals(pa.table(parsed[name])), name


@pytest.mark.parametrize("reader", ["pyarrow", "polars"])
def test_small_batches_export_as_the_parse(reader):
    # One claim a batch: most columns hold a single value or a single null.
    # The parse's tables are large enough to keep buffers of their own.
    data = SIMPLE * 400
    batches = list(zarvi.stream(data, by="2100"))
    parsed = zarvi.parse(data).tables
    for name in parsed:
        if reader == "pyarrow":
            joined = pa.concat_tables(pa.table(b.tables[name]) for b in batches)
            assert joined.equals(pa.table(parsed[name])), name
        else:
            pl = pytest.importorskip("polars")
            joined = pl.concat([pl.DataFrame(b.tables[name]) for b in batches])
            assert joined.equals(pl.DataFrame(parsed[name])), name


def test_a_last_batch_only_for_what_remains():
    batches = list(zarvi.stream(THREE.replace(b"GE*3*101~", b"GE*4*101~")))
    assert len(batches) == 4
    assert all(len(batches[3].tables[n]) == 0 for n in batches[3].tables)
    assert [d.kind for d in batches[3].diagnostics] == ["ControlCountMismatch"]


def test_other_loops_and_the_end():
    stream = zarvi.stream(THREE, by="2100")
    assert iter(stream) is stream
    batches = list(stream)
    assert rows(batches, "claims") == [1] * 6
    # The last claim closes with its transaction, whose payment row comes along.
    assert rows(batches, "payments") == [0, 1, 1, 0, 0, 1]
    for _ in range(2):
        with pytest.raises(StopIteration):
            next(stream)
    spec = zarvi.Spec.builtin().patch(zarvi.EDI_835_PARSER_PATCH)
    batches = list(zarvi.stream(THREE, spec=spec, by="group"))
    # The interchange's row is appended when it closes, after the group.
    assert rows(batches, "rows_claims") == [6, 0]
    assert rows(batches, "rows_interchanges") == [0, 1]
    body = b"ST|835|0001~BPR|I|5|C~SE|3|0001~"
    assert rows(zarvi.stream(body, delimiters=zarvi.Delimiters(b"|", b"^", b"~")), "payments") == [1]


def test_unknown_loop():
    loops = "1000A, 1000B, 2000, 2100, 2110, group, interchange, transaction"
    for by, quoted in (("claim", '"claim"'), ('a"b\n', '"a\\"b\\n"')):
        with pytest.raises(ValueError) as caught:
            zarvi.stream(THREE, by=by)
        assert str(caught.value) == (f"stream by {quoted}: the spec has no such loop; its "
                                     f"loops are {loops}")


def test_second_thread_is_refused_instead_of_waiting():
    big = slow_input(lambda data: list(zarvi.stream(data, by="interchange")))
    stream = zarvi.stream(big, by="interchange")
    got = {}
    thread = threading.Thread(target=lambda: got.setdefault("batch", next(stream)))
    thread.start()
    time.sleep(0.2)  # the step runs for half a second or more
    start = time.perf_counter()
    with pytest.raises(RuntimeError) as caught:
        next(stream)
    assert time.perf_counter() - start < 0.2
    thread.join()
    assert str(caught.value) == (
        "Stream.__next__: this stream is already being advanced by another thread; a stream "
        "is advanced from one thread at a time")
    assert len(got["batch"].tables["claims"]) == big.count(b"~CLP*")
    with pytest.raises(StopIteration):
        next(stream)
