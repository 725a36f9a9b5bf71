"""The workbook in a browser: a page over the development Business Layer, a kernel and the
development add-in. Start it with `./run playground`."""

from .server import Playground

__all__ = ["Playground"]
