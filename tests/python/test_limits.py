import math
import os
import pathlib
import subprocess
import sys

import pytest

import zarvi

DATA = pathlib.Path(__file__).parent.parent / "data" / "simple_5010.835"


def run(script, *args):
    done = subprocess.run([sys.executable, "-c", script, *map(str, args)],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr[-2000:]
    return done.stdout


# The file is sparse and mapped, and the address space is capped just above
# the mapping: a copy of the input would fail with MemoryError before any
# size check could run.
OVER_4_GIB = """
import mmap, os, resource, sys, zarvi
path = sys.argv[1]
with open(path, "wb") as f:
    f.truncate(4 * 2**30 + 1)
f = open(path, "rb")
mm = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
view = memoryview(mm)
vm = int(open("/proc/self/statm").read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
resource.setrlimit(resource.RLIMIT_AS, (vm + 512 * 2**20, resource.RLIM_INFINITY))
for data, delimiters in ((view, None), (mm, None), (view, zarvi.Delimiters())):
    try:
        zarvi.parse(data, delimiters=delimiters)
    except Exception as e:
        print(type(e).__name__, e)
"""


def test_input_over_4_gib_is_refused_before_it_is_copied(tmp_path):
    out = run(OVER_4_GIB, tmp_path / "sparse.835").splitlines()
    assert out == ["ParseError input of 4294967297 bytes exceeds the document size limit of "
                   "4294967295 bytes (segment offsets are stored as 32-bit integers)"] * 3


# One transaction of many claims, read under an address-space cap that the
# tables outgrow.
OUT_OF_MEMORY = """
import os, resource, sys, zarvi
text = open(sys.argv[1], "rb").read()
start, end = text.index(b"LX*"), text.index(b"SE*")
data = text[:start] + text[start:end] * 200000 + text[end:]
result = zarvi.parse(data[:len(text)])
def cap():
    vm = int(open("/proc/self/statm").read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
    resource.setrlimit(resource.RLIMIT_AS, (vm + 64 * 2**20, resource.RLIM_INFINITY))
calls = [lambda: zarvi.parse(data), lambda: list(zarvi.stream(data, by="transaction"))]
for call in calls:
    cap()
    try:
        call()
    except MemoryError as e:
        print(e)
    resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
"""


# The sanitizer's own allocator aborts instead of failing an allocation.
@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer aborts when memory runs out")
def test_out_of_memory_says_what_failed():
    out = run(OUT_OF_MEMORY, DATA).splitlines()
    assert len(out) == 2
    assert out[0].startswith("not enough memory to parse ")
    assert " MB of input: ran out while " in out[0]
    assert out[1].startswith("not enough memory to stream ")
    assert out[1].endswith(" MB of input: ran out while reading the next batch")


@pytest.mark.parametrize("patch, message", [
    ({"loops": {"2110": {"max": math.nan}}}, "at loops.2110.max is NaN"),
    ({"loops": {"2110": {"max": math.inf}}}, "at loops.2110.max is infinity"),
    ({"loops": {"2110": {"occurrences": [1, {"a.b": -math.inf}]}}},
     'at loops.2110.occurrences[1]."a.b" is negative infinity'),
], ids=["nan", "inf", "nested"])
def test_patch_refuses_numbers_json_cannot_hold(patch, message):
    with pytest.raises(zarvi.SpecError) as e:
        zarvi.Spec.builtin().patch(patch)
    assert str(e.value) == ("Spec.patch: the value " + message +
                            ", which JSON cannot hold; a spec holds finite numbers only")


@pytest.mark.parametrize("value, end", [
    (2**64, "18446744073709551616 at loops.2110.max is too large: "
            "integers in a spec are at most 18446744073709551615"),
    (123456789012345678901234567890, "123456789012345678901234567890 at loops.2110.max is too "
                                     "large: integers in a spec are at most 18446744073709551615"),
    (-2**63 - 1, "-9223372036854775809 at loops.2110.max is too small: "
                 "integers in a spec are from -9223372036854775808"),
], ids=["2**64", "30 digits", "below int64"])
def test_long_integers_are_named_by_their_digits(value, end):
    with pytest.raises(zarvi.SpecError) as e:
        zarvi.Spec.builtin().patch({"loops": {"2110": {"max": value}}})
    assert str(e.value) == "invalid spec JSON: the integer " + end
