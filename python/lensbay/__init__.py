"""The SX540 camera on its evaluation board, from Python.

    import lensbay
    with lensbay.Camera() as cam:
        cam.set_controls({"exposure": 40, "gain": 3})
        frame = cam.capture_array()          # numpy uint8, (rows, columns)

Every port cycle goes through PINBUS.OCX as the lensbay programs make it, on the backend
PORTIO names (the simulated board by default). See help(lensbay.Camera).
"""

import json as _json
from types import MappingProxyType as _MappingProxyType
from typing import Any, Dict, Iterator, NamedTuple, Optional, Tuple, Union

from ._lensbay import Error, NotRegistered, PortBusy
from ._lensbay import Camera as _Camera
from ._lensbay import _controls, _status_json

__all__ = ["Camera", "Control", "CONTROLS", "Error", "Frame", "NotRegistered", "PortBusy",
           "status"]


class Control(NamedTuple):
    """One control of the chip as its description gives it: a number's minimum, maximum, step,
    default and unit ("" or "blocks"), or an option's two words (`options`, the first sets
    its bit) and its default word (minimum, maximum and step None)."""
    name: str
    minimum: Optional[int]
    maximum: Optional[int]
    step: Optional[int]
    default: Union[int, str]
    unit: str
    options: Optional[Tuple[str, str]]


#: Every control by its settings key, in the order of the panel's window.
CONTROLS = _MappingProxyType({c["name"]: Control(**c) for c in _controls()})


class Frame:
    """A frame: `array` (numpy uint8, rows x columns, top row first) and `metadata`, the
    record `lensbay capture -o` writes beside a picture, as Python values: width, height,
    window (blocks), row_skip, registers (each register's value as written, or None where
    unknown), backend, time, and frame (its number from 1 and its time to the millisecond)."""

    __slots__ = ("array", "_record", "_metadata")

    def __init__(self, array, record: str):
        self.array = array
        self._record = record
        self._metadata = None

    @property
    def metadata(self) -> Dict[str, Any]:
        if self._metadata is None:
            self._metadata = _json.loads(self._record)
        return self._metadata

    def __repr__(self):
        rows, columns = self.array.shape
        return "<lensbay.Frame %d of %dx%d>" % (self.metadata["frame"]["number"], columns, rows)


class Camera(_Camera):
    __doc__ = _Camera.__doc__

    @property
    def controls(self):
        """The chip's controls by name (a read-only mapping of lensbay.Control): what
        set_controls takes, with its range, step, default and unit, or its option words."""
        return CONTROLS

    def capture(self) -> Frame:
        """Reads one frame: a lensbay.Frame with `.array` and `.metadata`."""
        array, record = self._read()
        return Frame(array, record)

    def frames(self, count: Optional[int] = None) -> Iterator[Frame]:
        """Streams frames, each a lensbay.Frame: `count` of them, or until the loop stops
        (None). Ctrl+C ends the frame under way with its handshake, then raises
        KeyboardInterrupt."""
        if count is not None and count < 0:
            raise ValueError("count = %d: a number of frames is 0 or more" % count)
        read = self._read
        n = 0
        while count is None or n < count:
            array, record = read()
            yield Frame(array, record)
            n += 1


def status() -> Dict[str, Any]:
    """What `lensbay status --json` prints, as Python values: every control with its register,
    range, default, what was last written to it, when and by whom, and on the simulated board
    what its chip holds. Reads files only: works while another program holds the port.
    lensbay.PortBusy when PORTIO names no port backend."""
    return _json.loads(_status_json())
