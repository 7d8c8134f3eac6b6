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

ROOT = pathlib.Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "tests" / "data" / "simple_5010.835"
BLOCK = re.compile(r"^```python\n(.*?)^```", re.MULTILINE | re.DOTALL)

# What an example needs, by what it says.
NEEDS = [
    (re.compile(r"\b(?:import|from) pyarrow\b"), {"pyarrow"}),
    (re.compile(r"\b(?:import|from) pandas\b|\.to_pandas\("), {"pandas", "pyarrow"}),
    (re.compile(r"\b(?:import|from) polars\b|\.to_polars\("), {"polars"}),
]


def readme_blocks(text):
    """(first line number, source) of each python block."""
    return [(text.count("\n", 0, m.start(1)) + 1, m.group(1)) for m in BLOCK.finditer(text)]


def named_files(source):
    for node in ast.walk(ast.parse(source)):
        if isinstance(node, ast.Constant) and isinstance(node.value, str) \
                and node.value.endswith(".835"):
            yield node.value


def missing_packages(source):
    wanted = set().union(*(names for pattern, names in NEEDS if pattern.search(source)))
    return sorted(name for name in wanted if importlib.util.find_spec(name) is None)


@pytest.mark.parametrize(
    "text, expected",
    [
        ("a\n```python\nx = 1\n```\nb\n```python\ny = 2\nz = 3\n```\n",
         [(3, "x = 1\n"), (7, "y = 2\nz = 3\n")]),
        ("```py\nno\n```\n```\nnot python\n```\n", []),
    ],
    ids=["two blocks", "other fences"],
)
def test_readme_blocks(text, expected):
    assert readme_blocks(text) == expected


def test_readme_examples_run(tmp_path, monkeypatch):
    blocks = readme_blocks((ROOT / "README.md").read_text(encoding="utf-8"))
    assert blocks, "the README has no python examples"
    sample = SAMPLE.read_bytes()
    for _, source in blocks:
        for name in named_files(source):
            path = tmp_path / re.sub(r"\*+|\?", "sample", name).lstrip("/")
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(sample)
    monkeypatch.chdir(tmp_path)

    namespace = {"__name__": "readme", "data": sample}
    skipped = []
    for line, source in blocks:
        if missing := missing_packages(source):
            skipped.append(f"line {line} needs {', '.join(missing)}")
            continue
        # Padding keeps tracebacks on README line numbers.
        exec(compile("\n" * (line - 1) + source, "README.md", "exec"), namespace)
    if skipped:
        pytest.skip("README examples not run: " + "; ".join(skipped))
