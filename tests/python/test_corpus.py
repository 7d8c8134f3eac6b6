"""Every third-party file of the shared corpus, read in place."""
import datetime
import pathlib

import pytest

import zarvi
from x12_input import round_trip

ROOT = pathlib.Path(__file__).resolve().parents[2]
CORPUS = next((p for p in (ROOT.parent / "shared" / "corpus", pathlib.Path("/work/shared/corpus"))
               if p.is_dir()), None)
FILES = sorted(CORPUS.glob("*__*")) if CORPUS else []

# The files that do not start with an ISA header: a transaction set without
# its envelope, and validator fixtures that open with prose.
REFUSED = {"5010__edi835parser__bcbs-nc_no-envelope.txt"} | {
    f"5010__stupidedi__scenario{s}_prose-prefixed.edi"
    for s in ("1_plus-delims-lf", "2_expected-errors", "3a_expected-errors", "3b_expected-errors")}

pytestmark = pytest.mark.skipif(not FILES, reason="the shared corpus is absent")


@pytest.mark.parametrize("path", FILES, ids=[p.name for p in FILES])
def test_corpus_file(path):
    data = path.read_bytes()
    if path.name in REFUSED:
        for read in (zarvi.parse, zarvi.stream):
            with pytest.raises(zarvi.ParseError, match="does not start with an ISA segment"):
                read(data)
        return
    result = zarvi.parse(data)
    document = result.document
    assert document.write() == data
    assert result.count_claims() == sum(document[i].id == b"CLP" for i in range(len(document)))
    assert all(d.origin == "zarvi" for d in result.diagnostics)
    # The batches' joins to the parse are checked in the core; here, that the
    # stream reads the same file through to the end.
    assert sum(len(b.tables["claims"]) for b in zarvi.stream(data)) == len(result.tables["claims"])
    round_trip(data, zarvi.Envelope(sender_id="SENDER", receiver_id="RECEIVER",
                                    date=datetime.date(2026, 1, 5), time=datetime.time(0)))
