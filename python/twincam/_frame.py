"""The frame type: an NV12 array with when it was read."""
from typing import Any, Optional

import numpy as np


class Frame(np.ndarray):  # type: ignore[type-arg]
    """One NV12 frame, shape (height * 3 // 2, width), uint8, over the dvpp
    buffer; usable wherever an array is. ``sequence`` is the camera's frame
    number (its stamp's, or the count of reads), ``timestamp_ns`` the
    monotonic clock and ``wall_ns`` the wall clock (ns since 1970) when the
    read returned. Views and slices keep the frame's attributes."""

    sequence: int
    timestamp_ns: int
    wall_ns: int

    def __array_finalize__(self, obj: Optional[Any]) -> None:
        if obj is not None and hasattr(obj, "timestamp_ns"):
            self.sequence = obj.sequence
            self.timestamp_ns = obj.timestamp_ns
            self.wall_ns = obj.wall_ns
