import array
import decimal
import os
import sys

import pyarrow as pa
import pytest
from hypothesis import given, settings, strategies as st

import zarvi
from x12_input import SIMPLE, interchange, longest_pause, payment, slow_input

ONE = interchange(payment(claims=[("C1", "0123", "100"), ("C2", "123", "20"),
                                  ("C3", "0123", "5")]))
TWO = interchange(payment(claims=[("C1", "P1", "100")]), payment(claims=[("C2", "P2", "-0.5")]))
N2_PATCH = ('{"balancing": {"transaction_balance": null}, '
            '"segments": {"BPR": {"elements": {"2": {"type": "N2"}}}}}')


def test_result():
    result = zarvi.parse(SIMPLE)
    assert repr(result) == "Result(segments=42, tables=5, diagnostics=0)"
    assert result.document is result.document and result.tables is result.tables
    assert result.diagnostics is result.diagnostics == []
    assert result.spec.to_json() == zarvi.Spec.builtin().to_json()
    assert result.spec is not result.spec


@pytest.mark.parametrize(
    "data",
    [bytearray(SIMPLE), memoryview(SIMPLE).cast("c"), memoryview(SIMPLE).cast("b"),
     memoryview(bytes(b for c in SIMPLE for b in (c, 0)))[::2]],
    ids=["bytearray", "format c", "format b", "strided"],
)
def test_accepted_buffers(data):
    assert zarvi.parse(data).document.write() == SIMPLE


# bytes are read in place and kept alive by what reads them; any other buffer
# is copied, so changing it afterwards changes nothing read.
@pytest.mark.parametrize("kind", [bytes, bytearray], ids=["bytes", "bytearray"])
def test_input_outlives_the_caller(kind):
    data = kind(SIMPLE)
    result = zarvi.parse(data)
    walk = zarvi.stream(data)
    segment = result.document[3]
    if kind is bytearray:
        data[:] = b"x" * len(data)
    del data
    assert result.document.write() == SIMPLE
    assert segment.raw == zarvi.parse(SIMPLE).document[3].raw
    assert sum(len(batch.tables["claims"]) for batch in walk) == result.count_claims()


BUFFER = "argument data must be a buffer of unsigned bytes, format 'B', 'b' or 'c'; found "
BOTH = (zarvi.parse, zarvi.stream)


@pytest.mark.parametrize("functions, data, kwargs, message", [
    (BOTH, array.array("i", [1, 2]), {}, "{name}: " + BUFFER + "format 'i'"),
    (BOTH, None, {}, "{name}: " + BUFFER + "type NoneType"),
    (BOTH, SIMPLE.decode(), {}, "the input must be bytes or another buffer, not str: open the "
                                "file in binary mode or encode the text"),
    (BOTH, SIMPLE, {"spec": "5010"}, "{name}() argument 'spec' must be Spec or None, not str"),
    ((zarvi.parse,), SIMPLE, {"delimiters": b"*:~"},
     "{name}() argument 'delimiters' must be Delimiters or None, not bytes"),
    ((zarvi.stream,), SIMPLE, {"by": b"transaction"},
     "{name}() argument 'by' must be str, not bytes"),
], ids=["int array", "None", "str", "spec", "delimiters", "by"])
def test_refused_arguments(functions, data, kwargs, message):
    for function in functions:
        with pytest.raises(TypeError) as caught:
            function(data, **kwargs)
        assert str(caught.value) == message.format(name=function.__name__)


@pytest.mark.parametrize("data, message", [(b"", "input is empty"), (SIMPLE[:50], "ISA")],
                         ids=["empty", "truncated header"])
def test_parse_error(data, message):
    with pytest.raises(zarvi.ParseError) as caught:
        zarvi.parse(data)
    assert message in str(caught.value) and len(caught.value.args) == 1
    with pytest.raises(zarvi.ParseError):
        zarvi.stream(data)


def test_given_delimiters_and_spec():
    body = b"ST|835|0001~BPR|I|5|C~SE|3|0001~"
    result = zarvi.parse(body, delimiters=zarvi.Delimiters(b"|", b"^", b"~"))
    assert result.document[1].elements[:2] == [b"I", b"5"]
    assert result.document.delimiters == zarvi.Delimiters(b"|", b"^", b"~")
    old = interchange(payment(), version="004010X091A1")
    assert zarvi.parse(old).spec.to_json() == zarvi.Spec.builtin("4010").to_json()
    given_spec = zarvi.Spec.builtin().patch(N2_PATCH)
    assert zarvi.parse(old, spec=given_spec).spec.to_json() == given_spec.to_json()


def test_summaries():
    one = zarvi.parse(ONE)
    assert one.count_claims() == 3
    assert one.count_patients() == 2  # "0123" twice, "123" once: bytes, not numbers
    assert one.sum_payments() == decimal.Decimal("125.00")
    assert str(one.sum_payments()) == "125.00"
    assert one.payer == {"name": "ACME HEALTH PLAN", "identification_code": None,
                         "address": "100 MAIN ST", "city": "SPRINGFIELD", "state": "IL",
                         "zip_code": "62701"}
    assert list(one.payee) == list(one.payer)
    two = zarvi.parse(TWO)
    assert str(two.sum_payments()) == "99.50"
    with pytest.raises(ValueError) as caught:
        two.payer
    assert str(caught.value) == ('Result.payer reads one transaction; the table "payments" has '
                                 "2 rows")
    assert zarvi.parse(interchange(payment(payer=False))).payer is None
    no_amount = interchange(payment()).replace(b"BPR*I*150*", b"BPR*I**")
    assert str(zarvi.parse(no_amount).sum_payments()) == "0.00"


def test_summary_errors():
    result = zarvi.parse(ONE, spec=zarvi.Spec.builtin().patch(zarvi.EDI_835_PARSER_PATCH))
    with pytest.raises(KeyError) as caught:
        result.count_claims()
    assert caught.value.args[0] == ('Result.count_claims reads the table "claims"; the tables '
                                    f'are: {", ".join(result.tables.keys())}')
    dropped = zarvi.Spec.builtin().patch(
        '{"tables": {"claims": {"columns": {"patient_id": null}}}}')
    result = zarvi.parse(ONE, spec=dropped)
    with pytest.raises(KeyError) as caught:
        result.count_patients()
    assert caught.value.args[0] == (
        'Result.count_patients reads the column "patient_id" of the table "claims"; its '
        f'columns are: {", ".join(result.tables["claims"].columns)}')
    with pytest.raises(TypeError) as caught:
        zarvi.parse(ONE, spec=zarvi.Spec.builtin().patch(N2_PATCH)).sum_payments()
    assert str(caught.value) == ('Result.sum_payments reads "total_payment_amount" of the '
                                 'table "payments" as a decimal; it is int64 (scale 2)')
    big = "9" * 36
    ones = interchange(*[payment(claims=[("C1", "P1", "1")])] * 2)
    with pytest.raises(ValueError) as caught:
        zarvi.parse(ones.replace(b"BPR*I*1*", f"BPR*I*{big}*".encode())).sum_payments()
    assert str(caught.value) == (
        'Result.sum_payments: the sum of "total_payment_amount" in the table "payments" '
        f"overflows a 128-bit decimal at row 1 (amount {big}.00)")


def test_loop_paths():
    result = zarvi.parse(TWO)
    assert zarvi._loop_paths(result, []) == []
    n = len(result.document)
    with pytest.raises(ValueError) as caught:
        zarvi._loop_paths(result, [0, n])
    assert str(caught.value) == (f"_loop_paths: segment {n} is past the document's last "
                                 f"segment ({n} segments)")
    first, second, again = zarvi._loop_paths(result, [5, 2, 5])
    assert first == again == [("interchange", 1), ("group", 1), ("transaction", 1), ("1000A", 1)]
    assert second == first[:3]
    # Ordinals count over the whole stream.
    clp = [i for i in range(n) if result.document[i].id == b"CLP"]
    assert [(p[2], p[-1]) for p in zarvi._loop_paths(result, clp)] == [
        (("transaction", 1), ("2100", 1)), (("transaction", 2), ("2100", 2))]
    assert zarvi._loop_paths(result, range(n))[-1] == [("interchange", 1)]
    assert zarvi._loop_paths(result, b"\x02") == [second]
    for bad in ("12", 5, [-1]):
        with pytest.raises((TypeError, OverflowError)):
            zarvi._loop_paths(result, bad)
    with pytest.raises(TypeError, match="argument 'result'"):
        zarvi._loop_paths(result.tables, [0])


class LongList(list):
    def __len__(self):
        return 2**62


# A length no list of indexes can hold fails at once, before any item is read.
@pytest.mark.parametrize("segments", [range(2**61), range(2**63 - 1), LongList([1, 2])],
                         ids=["2**61", "2**63-1", "lying __len__"])
def test_loop_paths_of_more_segments_than_memory_holds(segments):
    with pytest.raises(MemoryError) as caught:
        zarvi._loop_paths(zarvi.parse(TWO), segments)
    assert str(caught.value) == f"not enough memory to hold {len(segments)} segment indexes"


def test_lock_is_released_during_parse():
    big = slow_input(zarvi.parse)
    longest, elapsed = longest_pause(lambda: zarvi.parse(big))
    assert elapsed > 0.2, "the input is too small to tell"
    assert longest < elapsed / 4


def _rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


# Under AddressSanitizer freed memory waits in quarantine, so RSS tells nothing.
@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="resident memory is not a leak measure under AddressSanitizer")
def test_no_leak_over_many_parses():
    def once():
        result = zarvi.parse(SIMPLE)
        result.tables["claims"].__arrow_c_stream__()
        [result.document[i].elements for i in range(len(result.document))]
        result.count_claims(), result.payer, result.spec
        zarvi._loop_paths(result, [3])
        list(zarvi.stream(SIMPLE))

    for _ in range(300):
        once()
    before, references = _rss(), sys.getrefcount(SIMPLE)
    for _ in range(3000):
        once()
    assert _rss() - before < 4 * 1024 * 1024
    assert sys.getrefcount(SIMPLE) == references


VALID = [SIMPLE, ONE, TWO]


@settings(max_examples=300, deadline=None)
@given(st.one_of(
    st.binary(max_size=300),
    st.builds(lambda base, cut, junk: VALID[base][:cut] + junk + VALID[base][cut:],
              st.integers(0, 2), st.integers(0, 1200), st.binary(max_size=8)),
    st.builds(lambda base, cut: VALID[base][:cut], st.integers(0, 2), st.integers(0, 1200)),
))
def test_any_bytes_give_a_result_or_parse_error(data):
    try:
        result = zarvi.parse(data)
    except zarvi.ParseError:
        return
    repr(result)
    [str(d) for d in result.diagnostics]
    result.tables.render()
    document = result.document
    assert b"".join(document[i].raw for i in range(len(document))) == data
    for name in result.tables:
        pa.table(result.tables[name]).validate(full=True)
    for batch in zarvi.stream(data):
        repr(batch)
