import pathlib
import subprocess
import sys

import pytest

DATA = pathlib.Path(__file__).parent.parent / "data" / "simple_5010.835"

# Daemon threads that are inside the module when the interpreter exits: the
# interpreter ends each one as it retakes the lock, and the process must
# still exit cleanly.
SCRIPT = """
import sys, threading, time
import pyarrow, polars, pandas
import zarvi
data = open(sys.argv[1], "rb").read() * 1000
def parse():
    while True:
        zarvi.parse(data)
def stream():
    while True:
        for batch in zarvi.stream(data, by="2100"):
            batch.tables["claims"].__arrow_c_stream__()
            batch.tables["claims"].__arrow_c_array__()
work = parse if sys.argv[2] == "parse" else stream
for _ in range(8):
    threading.Thread(target=work, daemon=True).start()
time.sleep(float(sys.argv[3]))
"""


@pytest.mark.parametrize("mode", ["parse", "stream"])
def test_exit_while_daemon_threads_work(mode):
    for run in range(20):
        sleep = 0.05 + 0.01 * (run % 5)
        done = subprocess.run(
            [sys.executable, "-c", SCRIPT, str(DATA), mode, str(sleep)],
            capture_output=True,
            text=True,
            timeout=120,
        )
        assert done.returncode == 0, (run, done.returncode, done.stderr[-2000:])
