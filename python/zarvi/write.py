"""Writing one interchange from tables: `zarvi.write`."""

from __future__ import annotations

from zarvi import _core

__all__ = ["write"]


def write(tables, envelope, spec=None, allow_findings=False):
    return _core._write(tables, envelope, spec, allow_findings)


write.__doc__ = _core._write.__doc__
