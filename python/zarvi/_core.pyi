"""Types of the native extension zarvi._core (re-exported by zarvi).

The native core of zarvi: reads and validates X12 835 remittance files (005010X221A1
and 004010X091A1) into a lossless document, typed tables and diagnostics. Import the
`zarvi` package, which re-exports every public name of this module.
"""

import datetime
from collections.abc import Iterator, Mapping, Sequence
from decimal import Decimal
from typing import Any, ClassVar, Final, SupportsIndex, final

from typing_extensions import Buffer

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
    "_write",
    "EDI_835_PARSER_PATCH",
]

# The frame libraries are optional, so their frames are typed loosely.
_Frame = Any
# An Arrow PyCapsule (types.CapsuleType from Python 3.13).
_Capsule = Any

class ParseError(ValueError): ...
class SpecError(ValueError): ...

@final
class Diagnostic:
    """One problem found in the data of a file: its SNIP level, the rule, and
    where (segment, element, component and loop path). A value in a list,
    never raised; str() gives its one-line report.
    """

    @property
    def level(self) -> int: ...
    @property
    def origin(self) -> str: ...
    @property
    def code(self) -> str | None: ...
    @property
    def kind(self) -> str: ...
    @property
    def rule(self) -> str: ...
    @property
    def segment(self) -> int | None: ...
    @property
    def element(self) -> int | None: ...
    @property
    def component(self) -> int | None: ...
    @property
    def path(self) -> str: ...
    @property
    def datum(self) -> bytes: ...

@final
class Delimiters:
    """The five delimiters of an interchange, an immutable value compared by
    content: the element and component separators, the segment terminator,
    and the repetition separator and release character, which a file may
    lack (None). Document.delimiters gives a file's; parse and stream take
    one to override the ISA header.

    Raises ValueError when a delimiter is not exactly one byte, TypeError
    when it is not bytes (or None, for the last two).
    """

    def __new__(
        cls,
        element: bytes = b"*",
        component: bytes = b":",
        segment: bytes = b"~",
        repetition: bytes | None = None,
        release: bytes | None = None,
    ) -> Delimiters: ...
    @property
    def element(self) -> bytes: ...
    @property
    def component(self) -> bytes: ...
    @property
    def segment(self) -> bytes: ...
    @property
    def repetition(self) -> bytes | None: ...
    @property
    def release(self) -> bytes | None: ...
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class Document:
    """The file, indexed into segments and held byte for byte. len() counts
    the segments; document[i] is the Segment at i (negative i counts from
    the end; IndexError past either end). Made only by parse.
    """

    def __len__(self) -> int: ...
    def __getitem__(self, key: SupportsIndex, /) -> Segment: ...
    def write(self) -> bytes: ...
    @property
    def delimiters(self) -> Delimiters: ...

@final
class Segment:
    @property
    def index(self) -> int: ...
    @property
    def id(self) -> bytes: ...
    @property
    def raw(self) -> bytes: ...
    @property
    def span(self) -> tuple[int, int]: ...
    @property
    def elements(self) -> list[bytes | list[bytes]]: ...

@final
class Result:
    """What zarvi.parse made of one file: the document, the tables, the
    diagnostics and the spec, with summaries of the 835 tables.

    Made only by parse; immutable. Its parts share memory with it: a table
    or a segment taken from it keeps the data it reads alive.

    Example:
        result = zarvi.parse(data)
        result.payer["name"], result.count_claims(), result.sum_payments()
        claims = result.tables["claims"]
        [str(d) for d in result.diagnostics]
    """

    def count_claims(self) -> int:
        """The number of claims: the rows of the table "claims".

        Raises KeyError, naming the tables there are, when the spec has no "claims" table.
        """
    def count_patients(self) -> int: ...
    def sum_payments(self) -> Decimal: ...
    @property
    def document(self) -> Document: ...
    @property
    def tables(self) -> Tables: ...
    @property
    def diagnostics(self) -> list[Diagnostic]: ...
    @property
    def spec(self) -> Spec: ...
    @property
    def payer(self) -> dict[str, str | None] | None: ...
    @property
    def payee(self) -> dict[str, str | None] | None: ...

@final
class Spec:
    """A compiled description of a file format: its loops, the segments and elements
    each holds with their types and codes, the balancing rules, and the tables to
    project. parse and stream read with one.

    Made by Spec.builtin, Spec.from_json or patch; immutable, and shared without
    copying.

    Example:
        spec = zarvi.Spec.builtin("4010")
        result = zarvi.parse(data, spec=spec)
        flat = zarvi.Spec.builtin().patch(zarvi.EDI_835_PARSER_PATCH)
        spec.loops(), spec.to_json()
    """

    @staticmethod
    def builtin(version: str = "5010") -> Spec:
        """A built-in 835 spec.

        Parameters:
            version: "5010" (the default) for 005010X221A1, or "4010" for 004010X091A1.

        Returns:
            The Spec; the same compiled spec is shared by every call.

        Raises:
            ValueError: any other version. TypeError: version is not a str.
        """
    @staticmethod
    def from_json(json: str) -> Spec:
        """Compiles a spec from its JSON text, as to_json writes it.

        Parameters:
            json: the spec as JSON text (a str).

        Returns:
            The Spec.

        Raises:
            SpecError: the text is not valid JSON or not a valid spec; the message names
                the rule, the loop or key, and the datum.
            TypeError: json is not a str.
        """
    def patch(self, patch: dict[str, Any] | str) -> Spec:
        """A new spec: this one with `patch` merged over it. This spec is not changed.

        Parameters:
            patch: a JSON merge patch, as a dict or as JSON text: an object merges into
                the object at its key, None (null) removes the key, and any other value
                replaces it.

        Returns:
            The patched Spec.

        Raises:
            SpecError: the patch is not valid JSON or the patched spec is not valid.
            TypeError: patch is neither a dict nor a str, or the dict cannot be written
                as JSON.

        Example:
            no_adjustments = Spec.builtin().patch({"tables": {"adjustments": None}})
        """
    def to_json(self) -> str:
        """The spec as JSON text, which Spec.from_json reads back."""
    def loops(self) -> list[str]:
        """The names of the spec's loops (a list of str), in spec order."""

@final
class Batch:
    @property
    def tables(self) -> Tables: ...
    @property
    def diagnostics(self) -> list[Diagnostic]: ...

@final
class Stream:
    """The iterator zarvi.stream returns: each next() reads on to the next
    closed instance of its loop and returns a Batch; StopIteration at the end.
    Each step runs with the GIL released.

    A stream must be advanced from one thread at a time: a next() that finds
    another thread inside a step raises a RuntimeError naming the stream
    (unlike a generator, which raises ValueError).
    """

    def __iter__(self) -> Stream: ...
    def __next__(self) -> Batch: ...

@final
class Table:
    """One projected table: named, typed columns of equal length; len() is
    its row count. Read-only, and it keeps the tables it belongs to alive.

    It speaks the Arrow PyCapsule interface, so pyarrow.table(t),
    polars.DataFrame(t) and other Arrow readers take it without copying.

    Example:
        claims = result.tables["claims"]
        claims.name, claims.columns, len(claims)
        frame = claims.to_polars()
        print(claims.render())
    """

    def __len__(self) -> int: ...
    def render(self) -> str: ...
    def to_pandas(self) -> _Frame: ...
    def to_polars(self) -> _Frame: ...
    def __arrow_c_schema__(self) -> _Capsule: ...
    def __arrow_c_array__(
        self, requested_schema: object | None = None
    ) -> tuple[_Capsule, _Capsule]: ...
    def __arrow_c_stream__(self, requested_schema: object | None = None) -> _Capsule: ...
    @property
    def name(self) -> str: ...
    @property
    def columns(self) -> list[str]: ...

@final
class Tables:
    """The tables of one parse or one batch: a read-only mapping from table name to
    Table. len() counts the tables, iteration yields their names, `name in tables`
    tests one, and tables[name] raises KeyError listing the names when there is no
    such table. Shared with its tables, never copied.

    Example:
        tables = result.tables
        list(tables)              # ["adjustments", "claims", ...]
        claims = tables["claims"]
        frames = tables.to_polars()
    """

    def __len__(self) -> int: ...
    def __getitem__(self, key: str, /) -> Table: ...
    def __contains__(self, key: str, /) -> bool: ...
    def __iter__(self) -> Iterator[str]: ...
    def keys(self) -> list[str]: ...
    def render(self) -> str: ...
    def to_pandas(self) -> dict[str, _Frame]: ...
    def to_polars(self) -> dict[str, _Frame]: ...
    @property
    def spec(self) -> Spec: ...

@final
class Envelope:
    def __new__(
        cls,
        *,
        sender_id: str,
        receiver_id: str,
        date: datetime.date,
        time: datetime.time,
        sender_qualifier: str = "ZZ",
        receiver_qualifier: str = "ZZ",
        usage_indicator: str = "P",
        control_number: int = 1,
        application_sender: str | None = None,
        application_receiver: str | None = None,
        delimiters: Delimiters | None = None,
        line_break: bool = False,
    ) -> Envelope: ...
    @property
    def sender_id(self) -> str: ...
    @property
    def receiver_id(self) -> str: ...
    @property
    def date(self) -> datetime.date: ...
    @property
    def time(self) -> datetime.time: ...
    @property
    def sender_qualifier(self) -> str: ...
    @property
    def receiver_qualifier(self) -> str: ...
    @property
    def usage_indicator(self) -> str: ...
    @property
    def control_number(self) -> int: ...
    @property
    def application_sender(self) -> str | None: ...
    @property
    def application_receiver(self) -> str | None: ...
    @property
    def delimiters(self) -> Delimiters: ...
    @property
    def line_break(self) -> bool: ...

@final
class WriteFinding:
    @property
    def kind(self) -> str: ...
    @property
    def table(self) -> str | None: ...
    @property
    def row(self) -> int | None: ...
    @property
    def column(self) -> str | None: ...
    @property
    def field(self) -> str | None: ...
    @property
    def diagnostic(self) -> Diagnostic | None: ...
    @property
    def message(self) -> str: ...

def parse(data: Buffer, spec: Spec | None = None, delimiters: Delimiters | None = None) -> Result: ...
def stream(
    data: Buffer,
    spec: Spec | None = None,
    by: str = "transaction",
    delimiters: Delimiters | None = None,
) -> Stream: ...
def _loop_paths(
    result: Result, segments: Sequence[SupportsIndex]
) -> list[list[tuple[str, int]]]: ...
def _external_diagnostic(
    origin: str,
    message: str,
    level: SupportsIndex,
    code: str | None = None,
    segment: SupportsIndex | None = None,
    element: SupportsIndex | None = None,
    component: SupportsIndex | None = None,
    datum: Buffer | Sequence[SupportsIndex] = b"",
    path: Sequence[tuple[str, int]] | None = None,
) -> Diagnostic: ...
def _write(
    tables: Tables | Mapping[str, Any],
    envelope: Envelope,
    spec: Spec | None = None,
    allow_findings: bool = False,
) -> tuple[bytes, list[WriteFinding]]: ...

EDI_835_PARSER_PATCH: Final[str]
