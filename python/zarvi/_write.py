"""The exception of a refused write."""

from __future__ import annotations

__all__ = ["WriteError"]


class WriteError(ValueError):
    """A write that did not give a valid file.

    Raised by `zarvi.write` when the spec cannot be written, the tables or
    the delimiters do not fit it, or the output cannot be read back (then
    `findings` is empty), and when the tables give findings that were not
    allowed (then `findings` lists them, in the writer's order).

    Parameters:
        message: the refusal as text; `str(error)` returns it.
        findings: the list of `WriteFinding` objects behind it.
    """

    def __init__(self, message: str, findings: list) -> None:
        super().__init__(message, findings)

    @property
    def message(self) -> str:
        """The refusal as text."""
        return self.args[0]

    @property
    def findings(self) -> list:
        """The `WriteFinding` objects behind the refusal; empty for a refusal."""
        return self.args[1]

    def __str__(self) -> str:
        return self.args[0]
