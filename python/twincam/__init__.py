"""Cameras through the twincam library.

Frames are NumPy arrays (``twincam.Frame``, with their sequence number and
capture times) over the dvpp buffer the library delivered, never copied; the
buffer is freed when the last array or view over it is gone. ``twincam.Pair``
reads two cameras as a stereo pair.
Built with the simulated platform, ``twincam.sim`` holds its controls.
"""
import sys as _sys

from ._frame import Frame
from ._twincam import Camera, CameraError, Pair, __version__, planes, registry, to_rgb

__all__ = ["Camera", "CameraError", "Frame", "Pair", "__version__", "planes", "registry", "to_rgb"]

try:
    from ._twincam import sim
except ImportError:  # built for a device: no simulated platform
    pass
else:
    _sys.modules[__name__ + ".sim"] = sim  # type: ignore[assignment]
    __all__.append("sim")
