"""The README's Python examples, run in order in one namespace.

They run in an empty folder where every .835 file an example names (as a
string literal; a glob gets one match) holds the sample file, and `data` is
bound to the sample's bytes beforehand. An example that uses an optional
package which is not installed is skipped, and the rest still run.
"""
import ast
import importlib.util
import pathlib
import re

import pytest

from x12_input import SIMPLE

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"
BLOCK = re.compile(r"^```python\n(.*?)^```", re.MULTILINE | re.DOTALL)
# What an example needs, by what it says.
NEEDS = [(r"\b(?:import|from) pyarrow\b", {"pyarrow"}),
         (r"\b(?:import|from) pandas\b|\.to_pandas\(", {"pandas", "pyarrow"}),
         (r"\b(?:import|from) polars\b|\.to_polars\(", {"polars"})]


def test_readme_examples_run(tmp_path, monkeypatch):
    text = README.read_text(encoding="utf-8")
    # (first line number, source) of each python block
    blocks = [(text.count("\n", 0, m.start(1)) + 1, m.group(1)) for m in BLOCK.finditer(text)]
    assert blocks, "the README has no python examples"
    for _, source in blocks:
        for node in ast.walk(ast.parse(source)):
            if isinstance(node, ast.Constant) and str(node.value).endswith(".835"):
                path = tmp_path / re.sub(r"\*+|\?", "sample", node.value).lstrip("/")
                path.parent.mkdir(parents=True, exist_ok=True)
                path.write_bytes(SIMPLE)
    monkeypatch.chdir(tmp_path)

    namespace = {"__name__": "readme", "data": SIMPLE}
    skipped = []
    for line, source in blocks:
        wanted = set().union(*(names for pattern, names in NEEDS if re.search(pattern, source)))
        if missing := sorted(n for n in wanted if importlib.util.find_spec(n) is None):
            skipped.append(f"line {line} needs {', '.join(missing)}")
            continue
        # Padding keeps tracebacks on README line numbers.
        exec(compile("\n" * (line - 1) + source, "README.md", "exec"), namespace)
    if skipped:
        pytest.skip("README examples not run: " + "; ".join(skipped))
