"""The USB Tarnovid board from Python, through the C library libtarnovid (ctypes: no compiler).

    import tarnovid
    with tarnovid.open() as board:      # open("demo"): the simulated board
        board.set_outputs(0x81)         # D7 and D0 on
        print(board.read_inputs())      # an int: bit 0 T2, bit 1 T3, bit 2 T4
    tarnovid.boards()                   # the boards plugged in, as `tarnovidctl list` shows them

Every failure raises TarnovidError: .code is the C library's result, which is tarnovidctl's exit
code for the same case (3 no board, 4 access denied, 5 no answer, 6 board lost, ...), and the
message says the rest.

Time and threads are the C library's (man 3 tarnovid): set_outputs waits at most 0.5 s for the
board, read_inputs at most 1 s; a board may be used from several threads, one call at a time,
and Python's other threads run while a call waits. close() waits for calls still running on the
board.

The library is the one named by $TARNOVID_LIBRARY, else the one beside this file (on Windows,
tarnovid.dll in the same folder), else the system's libtarnovid.so.1.
"""

import ctypes
import os
import threading

__all__ = ["open", "boards", "version", "Board", "Device", "TarnovidError", "DEMO",
           "OK", "FAILED", "BAD_ARGUMENT", "NO_BOARD", "ACCESS_DENIED", "NO_ANSWER", "BOARD_LOST"]

# The C library's results (tarnovid.h).
OK = 0
FAILED = 1
BAD_ARGUMENT = 2
NO_BOARD = 3
ACCESS_DENIED = 4
NO_ANSWER = 5
BOARD_LOST = 6

DEMO = "demo"

_BUSES = {1: "USB", 2: "Bluetooth", 3: "I2C", 4: "SPI"}
# tarnovid_device.differs, bit by bit, under the names tarnovidctl list --json uses.
_DIFFERS = ((1, "vendor"), (2, "product_id"), (4, "release"), (8, "manufacturer"),
            (16, "product"), (32, "bus"))


class TarnovidError(Exception):
    """A failed call: .code as in the C library, .message in one line."""

    def __init__(self, code, message):
        super().__init__(message)
        self.code = code
        self.message = message


class _Device(ctypes.Structure):
    pass


_Device._fields_ = [
    ("next", ctypes.POINTER(_Device)),
    ("path", ctypes.c_char_p),
    ("serial", ctypes.c_char_p),
    ("manufacturer", ctypes.c_char_p),
    ("product", ctypes.c_char_p),
    ("vendor_id", ctypes.c_ushort),
    ("product_id", ctypes.c_ushort),
    ("release", ctypes.c_ushort),
    ("bus", ctypes.c_int),
    ("differs", ctypes.c_uint),
]


def _load():
    name = "tarnovid.dll" if os.name == "nt" else "libtarnovid.so.1"
    explicit = os.environ.get("TARNOVID_LIBRARY")
    beside = os.path.join(os.path.dirname(os.path.abspath(__file__)), name)
    path = explicit or (beside if os.path.exists(beside) else name)
    try:
        library = ctypes.CDLL(path)
    except OSError as e:
        raise ImportError(f"tarnovid: cannot load the C library {path}: {e} (install "
                          f"libtarnovid1, or set TARNOVID_LIBRARY to the library's path)") from e
    board = ctypes.c_void_p
    for function, restype, argtypes in (
            ("tarnovid_open", ctypes.c_int, [ctypes.c_char_p, ctypes.POINTER(board)]),
            ("tarnovid_set_outputs", ctypes.c_int, [board, ctypes.c_ubyte]),
            ("tarnovid_read_inputs", ctypes.c_int, [board, ctypes.POINTER(ctypes.c_ubyte)]),
            ("tarnovid_close", None, [board]),
            ("tarnovid_strerror", ctypes.c_char_p, [ctypes.c_int]),
            ("tarnovid_last_error", ctypes.c_char_p, []),
            ("tarnovid_version", ctypes.c_char_p, []),
            ("tarnovid_list", ctypes.c_int, [ctypes.c_int, ctypes.POINTER(ctypes.POINTER(_Device))]),
            ("tarnovid_free_list", None, [ctypes.POINTER(_Device)])):
        getattr(library, function).restype = restype
        getattr(library, function).argtypes = argtypes
    return library


_lib = _load()


def _text(raw):
    return raw.decode("utf-8", "replace") if raw else ""


def _check(code):
    # Asked at once, on the same thread: the C library keeps the detail per thread.
    if code != OK:
        message = _text(_lib.tarnovid_last_error()) or _text(_lib.tarnovid_strerror(code))
        raise TarnovidError(code, message)


class Device:
    """One HID device as the system describes it: a board, or with all=True a lookalike."""

    __slots__ = ("path", "serial", "manufacturer", "product", "vendor_id", "product_id",
                 "release", "bus", "differs")

    def __init__(self, node):
        self.path = _text(node.path)
        self.serial = _text(node.serial)
        self.manufacturer = _text(node.manufacturer)
        self.product = _text(node.product)
        self.vendor_id = node.vendor_id
        self.product_id = node.product_id
        self.release = node.release
        self.bus = _BUSES.get(node.bus, "unknown")
        # Names of the board's marks this device lacks; empty for a board.
        self.differs = tuple(name for bit, name in _DIFFERS if node.differs & bit)

    @property
    def matches(self):
        return not self.differs

    def __repr__(self):
        return (f"Device(path={self.path!r}, serial={self.serial!r}, release={self.release:#06x}, "
                f"manufacturer={self.manufacturer!r}, product={self.product!r}, bus={self.bus!r}"
                + (f", differs={self.differs!r})" if self.differs else ")"))


class Board:
    """An open board; close it, or use it in a with statement."""

    def __init__(self, handle):
        self._handle = handle
        self._guard = threading.Condition()
        self._calls = 0

    def set_outputs(self, outputs):
        """Bit i of outputs (0..255) drives Di. Returns once the board has taken it."""
        if isinstance(outputs, bool) or not isinstance(outputs, int) or not 0 <= outputs <= 255:
            raise TarnovidError(BAD_ARGUMENT, f"outputs must be an int from 0 to 255, got {outputs!r}")
        _check(self._call(_lib.tarnovid_set_outputs, outputs))

    def read_inputs(self):
        """The board's inputs: bit 0 T2, bit 1 T3, bit 2 T4 (other bits as the board sends)."""
        inputs = ctypes.c_ubyte()
        _check(self._call(_lib.tarnovid_read_inputs, ctypes.byref(inputs)))
        return inputs.value

    def close(self):
        """Gives the board up; once calls still running on it from other threads have ended."""
        with self._guard:
            handle, self._handle = self._handle, None
            while self._calls:
                self._guard.wait()
        if handle:
            _lib.tarnovid_close(handle)

    @property
    def closed(self):
        return self._handle is None

    def _call(self, function, argument):
        # A call counts as running until the C library returns, so close() never frees the board
        # under it.
        with self._guard:
            if self._handle is None:
                raise TarnovidError(BAD_ARGUMENT, "the board is closed")
            self._calls += 1
            handle = self._handle
        try:
            return function(handle, argument)
        finally:
            with self._guard:
                self._calls -= 1
                self._guard.notify_all()

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:  # the interpreter is shutting down
            pass


def open(path=None):  # noqa: A001 - the module's own open, as tarnovid_open
    """The first board plugged in (None), the one at path (as boards() gives it), or "demo"."""
    if path is not None and not isinstance(path, str):
        raise TarnovidError(BAD_ARGUMENT, f"path must be a str or None, got {path!r}")
    handle = ctypes.c_void_p()
    _check(_lib.tarnovid_open(None if path is None else path.encode("utf-8"), ctypes.byref(handle)))
    return Board(handle)


def boards(all=False):  # noqa: A002 - as tarnovidctl list --all
    """The boards plugged in, in the order open() tries them; with all=True also the 1234:0001
    devices that are no board, after them, each with .differs naming what keeps it out."""
    first = ctypes.POINTER(_Device)()
    _check(_lib.tarnovid_list(1 if all else 0, ctypes.byref(first)))
    try:
        found = []
        node = first
        while node:
            found.append(Device(node.contents))
            node = node.contents.next
        return found
    finally:
        _lib.tarnovid_free_list(first)


def version():
    """The C library's version, as loaded."""
    return _text(_lib.tarnovid_version())
