import pytest

import zarvi
from x12_input import SIMPLE


@pytest.fixture(scope="module")
def document():
    return zarvi.parse(SIMPLE).document


def test_document(document):
    assert len(document) == 42
    assert repr(document) == f"Document(segments=42, bytes={len(SIMPLE)})"
    assert document.write() == SIMPLE
    assert document.delimiters == zarvi.Delimiters(repetition=b"^")
    assert document.delimiters is not document.delimiters
    assert [document[i].index for i in (41, -42, True)] == [41, 0, 1]
    for index in (42, -43):
        with pytest.raises(IndexError) as caught:
            document[index]
        assert str(caught.value) == (f"segment index {index} is out of range: the document has "
                                     "42 segments")
    with pytest.raises(TypeError, match="argument 'index' must be int, not str"):
        document["1"]


def test_segment(document):
    seg = document[19]
    assert repr(seg) == "Segment(index=19, id=b'SVC')"
    assert seg.id == b"SVC"
    assert seg.raw == b"\nSVC*HC:99213*120*100**1~"
    assert SIMPLE[slice(*seg.span)] == seg.raw
    assert seg.elements == [[b"HC", b"99213"], b"120", b"100", b"", b"1"]
    assert seg.elements is not seg.elements
    spans = [document[i].span for i in range(len(document))]
    assert spans[0][0] == 0 and spans[-1][1] == len(SIMPLE)
    assert all(a[1] == b[0] for a, b in zip(spans, spans[1:]))


def test_release_character_is_removed():
    data = SIMPLE.replace(b"N1*PR*ACME HEALTH PLAN", b"N1*PR*ACME?*HEALTH")
    delimiters = zarvi.Delimiters(repetition=b"^", release=b"?")
    document = zarvi.parse(data, delimiters=delimiters).document
    assert document[6].elements[1] == b"ACME*HEALTH"


def test_segment_keeps_its_document_alive():
    seg = zarvi.parse(SIMPLE).document[2]
    assert seg.id == b"ST" and seg.elements[0] == b"835"
