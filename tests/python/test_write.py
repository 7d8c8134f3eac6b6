"""zarvi.write, Envelope, WriteFinding and WriteError."""
import datetime
import inspect
import pathlib
import sys
import threading
import time

import pyarrow as pa
import pytest

import zarvi
import zarvi._core as core
import zarvi._write as zarvi_write
from x12_input import interchange, payment, slow_input

ROOT = pathlib.Path(__file__).resolve().parents[2]
DATA = ROOT / "tests" / "data" / "simple_5010.835"
CORPUS = pathlib.Path("/work/shared/corpus")
CORPUS_FILES = sorted(CORPUS.glob("*__*")) if CORPUS.is_dir() else []
DATE, TIME = datetime.date(2026, 1, 5), datetime.time(12, 0)
ENVELOPE = zarvi.Envelope(sender_id="ACMEHEALTH", receiver_id="GOODCLINIC", date=DATE, time=TIME)


def envelope(**changes):
    arguments = {"sender_id": "ACMEHEALTH", "receiver_id": "GOODCLINIC", "date": DATE,
                 "time": TIME, **changes}
    return zarvi.Envelope(**{k: v for k, v in arguments.items() if v is not ...})


class Zoned(datetime.tzinfo):
    def utcoffset(self, dt):
        return datetime.timedelta(hours=1)


class FakeTime:
    """Reads like a time; its attributes are what the test gives."""

    def __init__(self, hour, minute=0, second=0, microsecond=0):
        self.hour, self.minute, self.second, self.microsecond = hour, minute, second, microsecond
        self.tzinfo = None

    def __str__(self):
        return f"fake {self.hour}"


def test_envelope_defaults_and_getters():
    e = envelope()
    assert (e.sender_id, e.receiver_id, e.sender_qualifier, e.receiver_qualifier,
            e.usage_indicator, e.control_number, e.application_sender, e.application_receiver,
            e.line_break) == ("ACMEHEALTH", "GOODCLINIC", "ZZ", "ZZ", "P", 1, None, None, False)
    assert e.delimiters == zarvi.Delimiters(repetition=b"^")
    assert (e.date, e.time) == (DATE, TIME) and type(e.date) is datetime.date
    given = envelope(sender_qualifier="01", receiver_qualifier="30", usage_indicator="T",
                     control_number=2**64 - 1, application_sender="APP", application_receiver="RCV",
                     delimiters=zarvi.Delimiters(element=b"|", release=b"?"), line_break=True,
                     date=datetime.date(1, 1, 1), time=datetime.time(23, 59, 59))
    assert (given.sender_qualifier, given.receiver_qualifier, given.usage_indicator,
            given.control_number, given.application_sender, given.application_receiver,
            given.line_break) == ("01", "30", "T", 2**64 - 1, "APP", "RCV", True)
    assert given.delimiters == zarvi.Delimiters(element=b"|", release=b"?")
    assert (given.date, given.time) == (datetime.date(1, 1, 1), datetime.time(23, 59, 59))
    assert repr(envelope(sender_id='a"\n', control_number=7)) == (
        'Envelope(sender_id="a\\"\\n", receiver_id="GOODCLINIC", control_number=7)')
    with pytest.raises(AttributeError):
        e.sender_id = "x"


@pytest.mark.parametrize("changes, error, message", [
    ({"sender_id": ...}, TypeError,
     "Envelope() missing 1 required keyword-only argument: 'sender_id'"),
    ({"date": ..., "time": ...}, TypeError,
     "Envelope() missing 2 required keyword-only arguments: 'date' and 'time'"),
    ({"colour": 1}, TypeError, "Envelope() got an unexpected keyword argument 'colour'"),
    ({"sender_id": 1}, TypeError, "Envelope() argument 'sender_id' must be str, not int"),
    ({"application_sender": b"x"}, TypeError,
     "Envelope() argument 'application_sender' must be str or None, not bytes"),
    ({"control_number": "1"}, TypeError,
     "Envelope() argument 'control_number' must be int, not str"),
    ({"delimiters": b"*"}, TypeError,
     "Envelope() argument 'delimiters' must be Delimiters or None, not bytes"),
    ({"line_break": 1}, TypeError, "Envelope() argument 'line_break' must be bool, not int"),
    ({"control_number": -1}, OverflowError, None),
    ({"control_number": 2**64}, OverflowError, None),
    ({"time": FakeTime(2**40)}, OverflowError,
     "Envelope() time fake 1099511627776 is beyond the 32-bit seconds the envelope holds"),
    ({"date": datetime.datetime(2026, 1, 5, 1, 2), "time": TIME.replace(tzinfo=Zoned())},
     ValueError,
     "date 2026-01-05 01:02:00 is a datetime; give a datetime.date (the envelope's time is its "
     "own field)"),
    ({"time": TIME.replace(tzinfo=Zoned())}, ValueError,
     "time 12:00:00+01:00 has a time zone; give a datetime.time without one, as the envelope "
     "writes local time"),
    ({"time": datetime.time(12, 0, 0, 500)}, ValueError,
     "time 12:00:00.000500 has a fraction of a second; the envelope holds whole seconds"),
    ({"time": object()}, AttributeError, None),
    ({"time": FakeTime(1.5)}, TypeError, None),
], ids=["one missing", "two missing", "unknown", "id type", "application type", "number type",
        "delimiters type", "line break type", "negative number", "number too big",
        "time too big", "datetime first", "zoned", "fraction", "no attributes", "float hour"])
def test_envelope_refusals(changes, error, message):
    with pytest.raises(error) as caught:
        envelope(**changes)
    if message is not None:
        assert str(caught.value) == message


def test_envelope_date_out_of_range():
    class Far(datetime.date):
        def toordinal(self):
            return 2**40
    with pytest.raises(ValueError, match=r"^date 2026-01-05 is out of range$"):
        envelope(date=Far(2026, 1, 5))
    with pytest.raises(TypeError, match="takes 0 positional arguments but 1 was given"):
        zarvi.Envelope("a")


def test_write_error_and_signature():
    error = zarvi.WriteError("two findings", ["a", "b"])
    assert isinstance(error, ValueError)
    assert error.args == ("two findings", ["a", "b"])
    assert (error.message, error.findings, str(error)) == (
        "two findings", ["a", "b"], "two findings")
    assert zarvi.WriteError is zarvi_write.WriteError
    assert zarvi.write.__doc__ == core._write.__doc__ and "WriteFinding" in zarvi.write.__doc__
    assert str(inspect.signature(zarvi.write)) == str(inspect.signature(core._write))
    assert {"write", "WriteError", "Envelope", "WriteFinding"} <= set(zarvi.__all__)
    assert core.WriteFinding.__doc__ == (
        "One reason tables do not make a valid file. A value, never raised.")
    assert str(inspect.signature(core.Envelope)).startswith("(*, sender_id, receiver_id, date, ")


@pytest.mark.parametrize("arguments, message", [
    ((None, "x"), "_write() argument 'envelope' must be Envelope, not str"),
    ((None, ENVELOPE, "x"), "_write() argument 'spec' must be Spec or None, not str"),
    ((None, ENVELOPE, None, 1), "_write() argument 'allow_findings' must be bool, not int"),
], ids=["envelope", "spec", "allow_findings"])
def test_write_argument_types(arguments, message):
    with pytest.raises(TypeError) as caught:
        zarvi.write(*arguments)
    assert str(caught.value) == message


def comparable(tables):
    """Every table as Python rows without "segment" (where a value sits in
    the file), an empty value and a missing one alike."""
    return {name: [{k: (None if v == b"" else v) for k, v in row.items() if k != "segment"}
                   for row in pa.table(tables[name]).to_pylist()]
            for name in tables}


def round_trip(data, envelope=ENVELOPE):
    """Writes the tables of a parse back; checks that they read back equal,
    and that pyarrow, polars and pandas copies of them write the same bytes."""
    result = zarvi.parse(data)
    tables, spec = result.tables, result.tables.spec
    allow = bool(result.diagnostics)
    written, findings = zarvi.write(tables, envelope, allow_findings=allow)
    assert comparable(zarvi.parse(written, spec=spec).tables) == comparable(tables)
    copies = {"pyarrow": {n: pa.table(tables[n]) for n in tables},
              "polars": tables.to_polars(), "pandas": tables.to_pandas()}
    for name, copy in copies.items():
        again, again_findings = zarvi.write(copy, envelope, spec, allow)
        assert (name, again) == (name, written)
        assert [f.message for f in again_findings] == [f.message for f in findings]
    return written, findings


def test_round_trip_of_a_parse():
    written, findings = round_trip(DATA.read_bytes())
    assert findings == [] and written.startswith(b"ISA*00*          *00*          *ZZ*ACMEHEALTH")


@pytest.mark.skipif(not CORPUS_FILES, reason="the shared corpus is absent")
@pytest.mark.parametrize("path", CORPUS_FILES, ids=[p.name for p in CORPUS_FILES])
def test_round_trip_of_the_corpus(path):
    data = path.read_bytes()
    try:
        zarvi.parse(data)
    except zarvi.ParseError:
        pytest.skip("not an interchange")
    round_trip(data, envelope(sender_id="SENDER", receiver_id="RECEIVER"))


def test_findings_raise_unless_allowed():
    tables = zarvi.parse(DATA.read_bytes()).tables
    short = envelope(sender_id="A")
    with pytest.raises(zarvi.WriteError) as caught:
        zarvi.write(tables, short)
    written, findings = zarvi.write(tables, short, allow_findings=True)
    assert caught.value.args[1] != [] and [f.message for f in caught.value.findings] == [
        f.message for f in findings]
    assert caught.value.message.startswith("the tables do not make a valid file (1 finding)")
    (f,) = findings
    assert (f.kind, f.table, f.row, f.column, f.field) == (
        "ReadBack", None, None, None, "application_sender")
    assert f.diagnostic.origin == "zarvi" and f.diagnostic.kind == "LengthOutOfRange"
    assert str(f) == f.message and repr(f) == "WriteFinding(" + json_quoted(f.message) + ")"
    assert b"*ZZ*A              *" in written


def json_quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def test_findings_name_rows_and_columns():
    tables = zarvi.parse(DATA.read_bytes()).tables
    copy = {n: pa.table(tables[n]) for n in tables}
    claims = copy["claims"]
    copy["claims"] = claims.set_column(claims.schema.get_field_index("payment"), "payment",
                                       pa.array([0, 9], pa.int64()))
    _, findings = zarvi.write(copy, ENVELOPE, allow_findings=True)
    missing = [f for f in findings if f.kind == "MissingParent"]
    assert [(f.table, f.row, f.column, f.field, f.diagnostic) for f in missing] == [
        ("claims", 1, "payment", None, None)]


def test_refusals_carry_no_findings():
    with pytest.raises(zarvi.WriteError) as caught:
        zarvi.write(zarvi.parse(DATA.read_bytes()).tables, envelope(delimiters=zarvi.Delimiters()))
    assert caught.value.args == (
        "the interchange header carries a repetition separator, but the envelope field "
        '"delimiters.repetition" is not set', [])


def test_write_releases_the_lock_and_threads_agree():
    # The lock is free during the core write when another thread keeps
    # running: its longest pause stays well below the write's length.
    tables = zarvi.parse(slow_input(zarvi.parse, 0.3)).tables
    start = time.perf_counter()
    expected, _ = zarvi.write(tables, ENVELOPE)
    took = time.perf_counter() - start
    gaps, stop = [], threading.Event()

    def tick():
        last = time.perf_counter()
        while not stop.is_set():
            now = time.perf_counter()
            gaps.append(now - last)
            last = now
    old = sys.getswitchinterval()
    sys.setswitchinterval(0.001)
    try:
        ticker = threading.Thread(target=tick)
        ticker.start()
        results = []
        writers = [threading.Thread(target=lambda: results.append(zarvi.write(tables, ENVELOPE)[0]))
                   for _ in range(3)]
        for w in writers:
            w.start()
        for w in writers:
            w.join()
        stop.set()
        ticker.join()
    finally:
        sys.setswitchinterval(old)
    assert results == [expected] * 3
    assert max(gaps) < took / 2, (max(gaps), took)
