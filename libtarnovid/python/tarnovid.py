"""The USB Tarnovid board from Python, through the C library libtarnovid (ctypes: no compiler).

    import tarnovid

    with tarnovid.open("demo") as board:  # the simulated board; open() takes the first real one
        board.set_outputs(0x81)           # D7 and D0 on
        print(board.read_inputs())        # an int: bit 0 T2, bit 1 T3, bit 2 T4 (here 1: T2)
    print(tarnovid.boards())              # the boards plugged in, as `tarnovidctl list` shows them

    try:
        with tarnovid.wait(timeout=10) as board:  # the first board, as soon as it is plugged in
            board.set_outputs(0x01)
    except tarnovid.NoBoard:                      # none came within 10 s
        print("no board")
    except tarnovid.TarnovidError as e:           # any other failure; also an OSError
        print(e.code, e.message)                  # e.g. 4, and what to do about the permission

A board is opened by tarnovid.open(path, timeout) or tarnovid.Board(path, timeout), which are
the same: path None for the first board plugged in, a path as boards() gives it, or "demo".
tarnovid.wait(path, timeout) opens it as soon as it is there (timeout None: however long it
takes).

Failures of the board or the system raise TarnovidError, an OSError, or the subclass for its
.code: NoBoard (3), AccessDenied (4, also a PermissionError), NoAnswer (5, also a TimeoutError),
BoardLost (6, also a ConnectionError), BoardClosed (7: another thread closed the board during the
call). Codes 1 to 6 are tarnovidctl's exit codes for the same case; .message, also str(error),
says the rest in one line. A code this module does not know, from a newer library, raises TarnovidError
itself. Arguments of the wrong type raise TypeError, wrong values ValueError, and so does any
call on a board already closed, as with Python's files.

Time and threads are the C library's (man 3 tarnovid). The board's time-out, board.timeout
(0.5 s unless changed; 0.001 to 60 s), bounds each wait for it: set_outputs waits at most one
for the board to take the report, read_inputs one for that and one for the answer, and a call
waits at most three for other threads' calls on the same board. A board may be used from several
threads; their calls take turns. close() closes at once from any thread: calls still running on
the board raise BoardClosed. Python's other threads run while a call waits.

The library is the one named by $TARNOVID_LIBRARY, else the one beside this file (on Windows,
tarnovid.dll in the same folder), else the system's libtarnovid.so.1.
"""

from __future__ import annotations

import ctypes
import math
import numbers
import operator
import os
import re
import threading
import time
import weakref
from typing import List, Optional, Tuple, Union

__version__ = "1.1.0"

# open and wait stay out of `from tarnovid import *`: one would hide the built-in open, the other
# os.wait.
__all__ = ["Board", "Device", "boards", "version", "DEMO",
           "TarnovidError", "NoBoard", "AccessDenied", "NoAnswer", "BoardLost", "BoardClosed",
           "OK", "FAILED", "BAD_ARGUMENT", "NO_BOARD", "ACCESS_DENIED", "NO_ANSWER",
           "BOARD_LOST", "CLOSED"]

# The C library's results (tarnovid.h).
OK = 0
FAILED = 1
BAD_ARGUMENT = 2
NO_BOARD = 3
ACCESS_DENIED = 4
NO_ANSWER = 5
BOARD_LOST = 6
CLOSED = 7

DEMO = "demo"

_DEFAULT_TIMEOUT_MS = 500
_TIMEOUT_MIN_MS = 1
_TIMEOUT_MAX_MS = 60000
# wait() asks the library in slices this long, so that Ctrl-C reaches a program waiting for a
# board: Python raises KeyboardInterrupt only once the C call has returned.
_WAIT_SLICE_MS = 200

# The names of buses and of tarnovid_device.differs's bits, for a library that does not give them.
_BUSES = {1: "USB", 2: "Bluetooth", 3: "I2C", 4: "SPI"}
_FIELDS = {1: "vendor", 2: "product_id", 4: "release", 8: "manufacturer", 16: "product",
           32: "bus"}


class TarnovidError(OSError):
    """A failed call: .code as in the C library, .message in one line. The codes 1 to 6 are
    tarnovidctl's exit codes for the same case."""

    code: int
    message: str

    def __init__(self, code: int, message: str) -> None:
        # The message alone as OSError's argument: the codes are no errno values, and with two
        # arguments OSError would take the code for one and print "[Errno 3] ...".
        super().__init__(message)
        self.code = code
        self.message = message

    def __reduce__(self):
        # OSError's own pickles its arguments, which hold the message alone.
        return type(self), (self.code, self.message), self.__dict__


class NoBoard(TarnovidError):
    """No board plugged in, or none at that path (code 3)."""


class AccessDenied(TarnovidError, PermissionError):
    """The system refused the board for want of permission (code 4)."""


class NoAnswer(TarnovidError, TimeoutError):
    """The board did not take a report or answer within its time-out (code 5)."""


class BoardLost(TarnovidError, ConnectionError):
    """The board went away, now or in an earlier call; close it and open it again (code 6)."""


class BoardClosed(TarnovidError):
    """Another thread closed the board while this call waited for its turn or ran (code 7)."""


_ERRORS = {NO_BOARD: NoBoard, ACCESS_DENIED: AccessDenied, NO_ANSWER: NoAnswer,
           BOARD_LOST: BoardLost, CLOSED: BoardClosed}


def _error(code: int, message: str) -> TarnovidError:
    return _ERRORS.get(code, TarnovidError)(code, message)


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

_board = ctypes.c_void_p
_SIGNATURES = (
    ("tarnovid_open", ctypes.c_int, [ctypes.c_char_p, ctypes.POINTER(_board)]),
    ("tarnovid_wait", ctypes.c_int, [ctypes.c_char_p, ctypes.c_int, ctypes.POINTER(_board)]),
    ("tarnovid_set_outputs", ctypes.c_int, [_board, ctypes.c_ubyte]),
    ("tarnovid_read_inputs", ctypes.c_int, [_board, ctypes.POINTER(ctypes.c_ubyte)]),
    ("tarnovid_set_timeout", ctypes.c_int, [_board, ctypes.c_int]),
    ("tarnovid_board_info", ctypes.POINTER(_Device), [_board]),
    ("tarnovid_close", None, [_board]),
    ("tarnovid_strerror", ctypes.c_char_p, [ctypes.c_int]),
    ("tarnovid_last_error", ctypes.c_char_p, []),
    ("tarnovid_version", ctypes.c_char_p, []),
    ("tarnovid_list", ctypes.c_int, [ctypes.c_int, ctypes.POINTER(ctypes.POINTER(_Device))]),
    ("tarnovid_field_name", ctypes.c_char_p, [ctypes.c_uint]),
    ("tarnovid_bus_name", ctypes.c_char_p, [ctypes.c_int]),
    ("tarnovid_free_list", None, [ctypes.POINTER(_Device)]),
)


def _load() -> ctypes.CDLL:
    name = "tarnovid.dll" if os.name == "nt" else "libtarnovid.so.1"
    explicit = os.environ.get("TARNOVID_LIBRARY")
    beside = os.path.join(os.path.dirname(os.path.abspath(__file__)), name)
    path = explicit or (beside if os.path.exists(beside) else name)
    try:
        library = ctypes.CDLL(path)
    except OSError as e:
        raise ImportError(f"tarnovid: cannot load the C library {path}: {e} (install "
                          f"libtarnovid1, or set TARNOVID_LIBRARY to the library's path)") from e
    # A library older than this module lacks some calls; _need() says so when one is used.
    for function, restype, argtypes in _SIGNATURES:
        if hasattr(library, function):
            getattr(library, function).restype = restype
            getattr(library, function).argtypes = argtypes
    return library


_lib = _load()


def _text(raw: Optional[bytes]) -> str:
    return raw.decode("utf-8", "replace") if raw else ""


def _bus_name(bus: int) -> str:
    named = getattr(_lib, "tarnovid_bus_name", None)
    return _text(named(bus)) if named else _BUSES.get(bus, "unknown")


def _field_names(differs: int) -> Tuple[str, ...]:
    """The fields a device's differs bits name, as tarnovidctl list --json names them."""
    named = getattr(_lib, "tarnovid_field_name", None)
    names = []
    for bit in (1 << n for n in range(32)):
        if differs & bit:
            name = _text(named(bit)) if named else _FIELDS.get(bit, "")
            names.append(name or f"{bit:#x}")  # a bit without a name, by its value
    return tuple(names)


def _need(function: str):
    if not hasattr(_lib, function):
        raise TarnovidError(FAILED, f"{function}: the loaded C library (libtarnovid "
                                    f"{version()}) is older than this module and lacks it")
    return getattr(_lib, function)


def _check(code: int) -> None:
    # Asked at once, on the same thread: the C library keeps the detail per thread.
    if code != OK:
        message = _text(_lib.tarnovid_last_error()) or _text(_lib.tarnovid_strerror(code))
        raise _error(code, message)


def _path_argument(path: Union[str, os.PathLike, None]) -> Optional[bytes]:
    if path is None:
        return None
    if isinstance(path, os.PathLike):
        path = os.fspath(path)
    if not isinstance(path, str):
        raise TypeError(f"path must be a str or None, got {path!r}")
    if not path:
        raise ValueError("path is empty (None opens the first board)")
    if "\0" in path:
        raise ValueError(f"path contains a NUL character: {path!r}")
    return path.encode("utf-8")


def _seconds(value: float, name: str) -> float:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number of seconds, got {value!r}")
    return float(value)


def _timeout_ms(timeout: float) -> int:
    seconds = _seconds(timeout, "timeout")
    milliseconds = round(seconds * 1000) if math.isfinite(seconds) else 0
    if not _TIMEOUT_MIN_MS <= milliseconds <= _TIMEOUT_MAX_MS:
        raise ValueError(f"timeout must be from {_TIMEOUT_MIN_MS / 1000} to "
                         f"{_TIMEOUT_MAX_MS / 1000} s, got {timeout!r}")
    return milliseconds


class Device:
    """One HID device as the system describes it: a board, or with all=True a lookalike."""

    __slots__ = ("path", "serial", "manufacturer", "product", "vendor_id", "product_id",
                 "release", "bus", "differs")

    def __init__(self, node: _Device) -> None:
        self.path = _text(node.path)
        self.serial = _text(node.serial)
        self.manufacturer = _text(node.manufacturer)
        self.product = _text(node.product)
        self.vendor_id = node.vendor_id
        self.product_id = node.product_id
        self.release = node.release
        self.bus = _bus_name(node.bus)
        # Names of the board's marks this device lacks; empty for a board.
        self.differs = _field_names(node.differs)

    @property
    def matches(self) -> bool:
        return not self.differs

    def __repr__(self) -> str:
        return (f"Device(path={self.path!r}, serial={self.serial!r}, release={self.release:#06x}, "
                f"manufacturer={self.manufacturer!r}, product={self.product!r}, bus={self.bus!r}"
                + (f", differs={self.differs!r})" if self.differs else ")"))


class _Stragglers:
    """Calls that held a board's pointer when the board was closed and have not returned yet.
    While there are any, no board is opened: the C library could hand the closed board's pointer
    out again, and a call that had not yet reached the library would then act on the new board."""

    # Longer than a closed board's calls take to end; only a call that never returns (a signal
    # handler opening a board while its own thread's call was closed) meets it.
    _PATIENCE = 1.0

    def __init__(self) -> None:
        self._changed = threading.Condition()
        self._count = 0

    def add(self, count: int) -> None:
        with self._changed:
            self._count += count

    def leave(self) -> None:
        with self._changed:
            self._count -= 1
            if not self._count:
                self._changed.notify_all()

    def wait_for_none(self) -> None:
        with self._changed:
            self._changed.wait_for(lambda: not self._count, self._PATIENCE)


_stragglers = _Stragglers()


class _Handle:
    """The C board behind a Board, shared with the Board's finaliser. A call holds it from before
    the library has the pointer until the library has returned; once closed, no call gets the
    pointer again and the library is never asked to close it twice."""

    def __init__(self, pointer: int) -> None:
        self.pointer: Optional[int] = pointer
        self._lock = threading.Lock()
        self._calls = 0

    def enter(self) -> int:
        with self._lock:
            if self.pointer is None:
                raise ValueError("operation on a closed board")
            self._calls += 1
            return self.pointer

    def leave(self) -> None:
        with self._lock:
            self._calls -= 1
            if self.pointer is None:
                _stragglers.leave()

    def close(self) -> None:
        with self._lock:
            pointer, self.pointer = self.pointer, None
            if pointer is None:
                return
            if self._calls:
                _stragglers.add(self._calls)
            _lib.tarnovid_close(pointer)


class Board:
    """An open board: Board(path, timeout) opens it, as open(path, timeout) does.

    path: None for the first board plugged in, a path as boards() gives it, or "demo" for the
    simulated board. timeout: the board's time-out in seconds (see the timeout property).
    Close it with close(), or use it in a with statement."""

    def __init__(self, path: Union[str, os.PathLike, None] = None,
                 timeout: float = _DEFAULT_TIMEOUT_MS / 1000) -> None:
        raw = _path_argument(path)
        milliseconds = _timeout_ms(timeout)
        pointer = _board()
        _stragglers.wait_for_none()
        _check(_lib.tarnovid_open(raw, ctypes.byref(pointer)))
        self._adopt(pointer.value, raw, milliseconds)

    @classmethod
    def _opened(cls, pointer: int, raw_path: Optional[bytes]) -> Board:
        board = cls.__new__(cls)
        board._adopt(pointer, raw_path, _DEFAULT_TIMEOUT_MS)
        return board

    def _adopt(self, pointer: int, raw_path: Optional[bytes], timeout_ms: int) -> None:
        self._handle = _Handle(pointer)
        # Closes a board nobody closed: when the object goes, or at the latest when the
        # interpreter begins to shut down, while the module is still whole.
        self._finalizer = weakref.finalize(self, self._handle.close)
        self._timeout_ms = _DEFAULT_TIMEOUT_MS
        self._info: Optional[Device] = None
        self._path = _text(raw_path) or None
        try:
            if hasattr(_lib, "tarnovid_board_info"):
                # Copied now: the library's copy goes with the board.
                self._info = Device(_lib.tarnovid_board_info(pointer).contents)
                self._path = self._info.path
            if timeout_ms != _DEFAULT_TIMEOUT_MS:
                self.timeout = timeout_ms / 1000
        except BaseException:
            self.close()
            raise

    @property
    def path(self) -> Optional[str]:
        """The board's path: the system's, or the demo path it was opened by; opening this path
        again opens the same board."""
        return self._path

    @property
    def info(self) -> Device:
        """What the board said of itself when it was opened."""
        if self._info is None:
            _need("tarnovid_board_info")
        return self._info

    @property
    def timeout(self) -> float:
        """The board's time-out in seconds, 0.001 to 60: the longest wait for it to take one
        report or give one answer. Set, it holds from the next call on."""
        return self._timeout_ms / 1000

    @timeout.setter
    def timeout(self, seconds: float) -> None:
        milliseconds = _timeout_ms(seconds)
        self._call(_need("tarnovid_set_timeout"), milliseconds)
        self._timeout_ms = milliseconds

    def set_outputs(self, outputs: int) -> None:
        """Bit i of outputs (0..255) drives Di. Returns once the board has taken it."""
        if isinstance(outputs, bool):
            raise TypeError(f"outputs must be an int from 0 to 255, got {outputs!r}")
        try:
            value = operator.index(outputs)
        except TypeError:
            raise TypeError(f"outputs must be an int from 0 to 255, got {outputs!r}") from None
        if not 0 <= value <= 255:
            raise ValueError(f"outputs must be from 0 to 255, got {value!r}")
        self._call(_lib.tarnovid_set_outputs, value)

    def read_inputs(self) -> int:
        """The board's inputs: bit 0 T2, bit 1 T3, bit 2 T4 (other bits as the board sends)."""
        inputs = ctypes.c_ubyte()
        self._call(_lib.tarnovid_read_inputs, ctypes.byref(inputs))
        return inputs.value

    def close(self) -> None:
        """Gives the board up at once, from any thread: calls still running on it raise
        BoardClosed. Closing a closed board does nothing."""
        self._finalizer()

    @property
    def closed(self) -> bool:
        return self._handle.pointer is None

    def _call(self, function, argument) -> None:
        pointer = self._handle.enter()
        try:
            code = function(pointer, argument)
        finally:
            self._handle.leave()
        if code != OK and self.closed and code in (BAD_ARGUMENT, CLOSED):
            # Closed before the library had the call: it found the board closed already.
            raise BoardClosed(CLOSED, "closed: the board was closed by another thread")
        _check(code)

    def __repr__(self) -> str:
        state = "closed" if self.closed else "open"
        return f"<{type(self).__module__}.{type(self).__qualname__} path={self._path!r} {state}>"

    def __enter__(self) -> Board:
        if self.closed:
            raise ValueError("operation on a closed board")
        return self

    def __exit__(self, *exception) -> None:
        self.close()


def open(path: Union[str, os.PathLike, None] = None,  # noqa: A001 - as tarnovid_open
         timeout: float = _DEFAULT_TIMEOUT_MS / 1000) -> Board:
    """The first board plugged in (None), the one at path (as boards() gives it), or "demo", with
    the board's time-out in seconds. The same as Board(path, timeout)."""
    return Board(path, timeout)


def wait(path: Union[str, os.PathLike, None] = None, timeout: Optional[float] = None) -> Board:
    """As open(path), but waits for the board to be plugged in: at most timeout seconds (0: one
    look; None: however long it takes). NoBoard when the time is up; any other failure of the
    open is raised at once."""
    raw = _path_argument(path)
    deadline = None
    if timeout is not None:
        seconds = _seconds(timeout, "timeout")
        if math.isnan(seconds) or seconds < 0:
            raise ValueError(f"timeout must be 0 or more seconds, or None, got {timeout!r}")
        if math.isfinite(seconds):
            deadline = time.monotonic() + seconds
    function = _need("tarnovid_wait")
    _stragglers.wait_for_none()
    pointer = _board()
    while True:
        slice_ms = _WAIT_SLICE_MS
        if deadline is not None:
            slice_ms = min(slice_ms, max(0, math.ceil((deadline - time.monotonic()) * 1000)))
        code = function(raw, slice_ms, ctypes.byref(pointer))
        if code == OK:
            return Board._opened(pointer.value, raw)
        if code != NO_BOARD or (deadline is not None and time.monotonic() >= deadline):
            break
    message = _text(_lib.tarnovid_last_error()) or _text(_lib.tarnovid_strerror(code))
    if code == NO_BOARD:
        # The library counted the last slice only.
        message = re.sub(r"\(waited \d+ ms\)$", f"(waited {round(seconds * 1000)} ms)", message)
    raise _error(code, message)


def boards(all: bool = False) -> List[Device]:  # noqa: A002 - as tarnovidctl list --all
    """The boards plugged in, in the order open() tries them; with all=True also, after them, the
    devices that are no board, as tarnovidctl list --all shows them, each with .differs naming
    what keeps it out."""
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


def version() -> str:
    """The C library's version, as loaded (the module's is __version__)."""
    return _text(_lib.tarnovid_version())
