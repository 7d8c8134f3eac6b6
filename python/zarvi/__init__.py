"""zarvi: read, validate and write X12 835 remittance files.

A file's bytes become a lossless document, typed tables that pyarrow, pandas
and polars read without copying, and every problem found as a diagnostic with
its SNIP level and place; large files stream loop by loop, and tables write
back into an interchange that is read back and checked. The 005010X221A1
and 004010X091A1 formats are built in, and specs in JSON describe others.

    import pathlib, zarvi
    result = zarvi.parse(pathlib.Path("remit.835").read_bytes())
    result.tables["claims"].to_polars()

The work is done by the native extension zarvi._core, whose public names this
package re-exports.
"""

from importlib import metadata as _metadata

from zarvi._core import (
    EDI_835_PARSER_PATCH,
    Batch,
    Delimiters,
    Diagnostic,
    Document,
    Envelope,
    ParseError,
    Result,
    Segment,
    Spec,
    SpecError,
    Stream,
    Table,
    Tables,
    WriteFinding,
    _external_diagnostic,
    _loop_paths,
    parse,
    stream,
)
from zarvi._write import WriteError
from zarvi.write import write

# The extension's names, in its order, then the pure-Python writer; listed so
# that type checkers see them. The extension's _write is reached through
# zarvi.write: the name zarvi._write is the module of WriteError.
__all__ = [
    "ParseError",
    "SpecError",
    "Diagnostic",
    "Delimiters",
    "Document",
    "Segment",
    "Result",
    "Spec",
    "Batch",
    "Stream",
    "Table",
    "Tables",
    "Envelope",
    "WriteFinding",
    "_external_diagnostic",
    "parse",
    "_loop_paths",
    "stream",
    "EDI_835_PARSER_PATCH",
    "write",
    "WriteError",
]

try:
    __version__: str = _metadata.version("zarvi")
except _metadata.PackageNotFoundError:  # a developer build, not installed
    __version__ = "0+unknown"
