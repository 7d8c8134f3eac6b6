"""Read, validate and write X12 835 remittance files."""

from zarvi._core import *  # noqa: F401,F403
from zarvi._core import __all__  # noqa: F401
