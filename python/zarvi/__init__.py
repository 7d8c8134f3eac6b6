"""Read, validate and write X12 835 remittance files."""

from zarvi._core import *  # noqa: F401,F403
from zarvi._core import __all__ as _core_names
from zarvi._write import WriteError
from zarvi.write import write

__all__ = [*_core_names, "write", "WriteError"]
