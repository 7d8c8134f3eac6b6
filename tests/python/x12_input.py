"""Small 835 interchanges built inline for the tests, the sample file, an
envelope to write with, and checks several test files share."""
import datetime
import json
import pathlib
import threading
import time

import pyarrow as pa
import pyarrow.compute as pc

import zarvi

SIMPLE_PATH = pathlib.Path(__file__).resolve().parents[1] / "data" / "simple_5010.835"
SIMPLE = SIMPLE_PATH.read_bytes()
DATE, TIME = datetime.date(2026, 1, 5), datetime.time(12, 0)
ENVELOPE = zarvi.Envelope(sender_id="ACMEHEALTH", receiver_id="GOODCLINIC", date=DATE, time=TIME)

ISA = ("ISA*00*          *00*          *ZZ*ACMEHEALTH     *ZZ*GOODCLINIC     "
       "*260105*1200*^*00501*000000101*0*T*:~")


def payment(claims=(("CLAIM1", "MEMBER1", "150"),), payer=True):
    """The segments of one transaction between ST and SE: each claim is
    (claim id, patient id, paid amount); the payment is their sum. Without
    payer, no payer loop."""
    total = sum(float(c[2]) for c in claims)
    body = [f"BPR*I*{total:g}*C*ACH*CCP*01*011000015*DA*123456789*1512345678**01*021000021*DA"
            "*987654321*20260105", "TRN*1*EFT0001*1512345678"]
    if payer:
        body += ["N1*PR*ACME HEALTH PLAN", "N3*100 MAIN ST", "N4*SPRINGFIELD*IL*62701",
                 "PER*BL*CLAIMS DEPT*TE*8005551212"]
    body += ["N1*PE*GOOD CLINIC*XX*1234567893", "LX*1"]
    for claim_id, patient, paid in claims:
        body += [f"CLP*{claim_id}*1*{paid}*{paid}**12*REF{claim_id}*11*1",
                 f"NM1*QC*1*DOE*JOHN****MI*{patient}"]
    return body


def claims_with_services(count):
    """An interchange of one transaction of `count` claims, one service line
    each."""
    body = []
    for s in payment(claims=[(f"C{i}", f"P{i}", "1") for i in range(count)]):
        body += [s, "SVC*HC:99213*1*1**1"] if s.startswith("NM1*QC") else [s]
    return interchange(body)


def scaled_claim_rows(tables, factor):
    """The tables as pyarrow tables, with the claims' row numbers and the
    services' references to them multiplied by factor."""
    out = {name: pa.table(tables[name]) for name in tables}
    for name, column in (("claims", "row"), ("services", "claim")):
        t = out[name]
        out[name] = t.set_column(t.schema.get_field_index(column), column,
                                 pc.multiply(t[column], factor))
    return out


def wide_claim_loop(n):
    """The built-in spec with n more occurrences of REF in loop 2100, told
    apart by their qualifier codes, and a claims column reading each by its
    code; SIMPLE with eight of them in its first claim."""
    spec = json.loads(zarvi.Spec.builtin().to_json())
    qualifier = spec["segments"]["REF"]["elements"]["1"]
    del qualifier["codes"]
    qualifier["max"] = 10
    occurrences = spec["loops"]["2100"]["occurrences"]
    columns = spec["tables"]["claims"]["columns"]
    for i in range(n):
        occurrences[f"ref{i:05}"] = {"segment": "REF", "pos": 20650,
                                     "qualifier": {"element": 1, "codes": [f"Q{i}"]}}
        columns[f"r{i:05}"] = {"segment": "REF", "where": {"1": f"Q{i}"}, "element": 2}
    spec = zarvi.Spec.from_json(json.dumps(spec))
    at = SIMPLE.index(b"SVC*")
    refs = b"".join(b"REF*Q%d*V%d~" % (i, i) for i in range(0, n, n // 8))
    return spec, zarvi.parse(SIMPLE[:at] + refs + SIMPLE[at:], spec=spec).tables


def slow_input(read, seconds=0.5):
    """An interchange large enough that read(data) takes at least `seconds`
    in this build: grown by doubling from a few hundred transactions."""
    claims = [(f"C{i}", f"P{i}", "1") for i in range(40)]
    count = 250
    while True:
        data = interchange(*[payment(claims=claims)] * count)
        start = time.perf_counter()
        read(data)
        if time.perf_counter() - start >= seconds or count >= 64000:
            return data
        count *= 2


def interchange(*transactions, version="005010X221A1", newline=""):
    """A whole interchange with one ST/SE pair per transaction and the
    control counts right."""
    out = [ISA, f"GS*HP*ACMEHEALTH*GOODCLINIC*20260105*1200*101*X*{version}~"]
    for i, body in enumerate(transactions, 1):
        out += [f"ST*835*{i:04}*{version}~", *(s + "~" for s in body), f"SE*{len(body) + 2}*{i:04}~"]
    out += [f"GE*{len(transactions)}*101~", "IEA*1*000000101~"]
    return newline.join(out).encode()


def reuse_freed_memory():
    """Allocates many objects, so that memory freed just before is reused
    and a dangling reference to it reads something else."""
    return [-int("9" * 31) - i for i in range(1000)]


def longest_pause(*work):
    """Runs each of work in a thread of its own while this one keeps
    running: (the longest this thread went without running, the time all
    took). Were the lock held during the work, this thread would stall."""
    threads = [threading.Thread(target=w) for w in work]
    start = last = time.perf_counter()
    longest = 0.0
    for t in threads:
        t.start()
    while any(t.is_alive() for t in threads):
        now = time.perf_counter()
        longest, last = max(longest, now - last), now
    for t in threads:
        t.join()
    return longest, time.perf_counter() - start


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
