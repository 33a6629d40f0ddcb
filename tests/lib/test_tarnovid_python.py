"""The Python module on the C library: the demo board, its errors, and (with the test build of
the library whose system devices are simulated, TARNOVID_FIXTURE_DEVICES=1) the list and open."""

import ast
import concurrent.futures
import multiprocessing
import os
import pickle
import signal
import subprocess
import sys
import threading
import time
import unittest

import tarnovid

FIXTURE = os.environ.get("TARNOVID_FIXTURE_DEVICES") == "1"
needs_fixture = unittest.skipUnless(FIXTURE,
                                    "needs the library built with simulated system devices")


def run_python(script, **options):
    return subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          timeout=30, **options)


def open_in_worker(path):
    return tarnovid.open(path).path


class DemoBoard(unittest.TestCase):
    def test_inputs_follow_outputs_bit_by_bit(self):
        with tarnovid.open(tarnovid.DEMO) as board:
            for outputs in (0x00, 0x01, 0x02, 0x04, 0x07, 0x81, 0xF8, 0xFF):
                board.set_outputs(outputs)
                self.assertEqual(board.read_inputs(), outputs & 0x07, hex(outputs))

    def test_every_open_meets_the_same_board(self):
        with tarnovid.open("demo") as writer, tarnovid.Board("demo", timeout=0.5) as reader:
            writer.set_outputs(0x06)
            self.assertEqual(reader.read_inputs(), 0x06)

    def test_wrong_types_and_values_raise_type_and_value_errors(self):
        for path, error in ((12345, TypeError), (b"demo", TypeError), ("", ValueError),
                            ("demo\0xyz", ValueError)):
            for make in (tarnovid.Board, tarnovid.open, tarnovid.wait):
                with self.assertRaises(error, msg=f"{make.__name__}({path!r})"):
                    make(path)
        for timeout, error in (("1", TypeError), (True, TypeError), (None, TypeError),
                               (0, ValueError), (0.0004, ValueError), (60.001, ValueError),
                               (float("nan"), ValueError), (float("inf"), ValueError)):
            with self.assertRaises(error, msg=repr(timeout)):
                tarnovid.Board("demo", timeout)
        for timeout, error in (("1", TypeError), (-0.1, ValueError), (float("nan"), ValueError)):
            with self.assertRaises(error, msg=repr(timeout)):
                tarnovid.wait("demo", timeout)
        with tarnovid.open("demo") as board:
            for outputs, error in ((256, ValueError), (-1, ValueError), ("1", TypeError),
                                   (1.0, TypeError), (None, TypeError), (True, TypeError)):
                with self.assertRaises(error, msg=repr(outputs)):
                    board.set_outputs(outputs)
            with self.assertRaises(ValueError):
                board.timeout = 0

    def test_a_closed_board_says_so_and_raises_value_error(self):
        board = tarnovid.open("demo")
        self.assertRegex(repr(board), r"^<tarnovid\.Board path='demo[^']*' open>$")
        with board:
            pass
        self.assertTrue(board.closed)
        self.assertRegex(repr(board), r"^<tarnovid\.Board path='demo[^']*' closed>$")
        for call in (board.read_inputs, lambda: board.set_outputs(1), board.__enter__):
            with self.assertRaises(ValueError):
                call()
        board.close()  # twice is fine

    def test_failures_raise_the_subclass_for_their_code(self):
        with self.assertRaises(tarnovid.NoBoard) as raised:
            tarnovid.Board("no/such/board")
        self.assertIsInstance(raised.exception, OSError)
        self.assertEqual((raised.exception.code, raised.exception.message, str(raised.exception)),
                         (3, "no board at no/such/board", "no board at no/such/board"))
        if not FIXTURE and not tarnovid.boards():
            with self.assertRaises(tarnovid.NoBoard):
                tarnovid.open()
        # The classes of the codes nothing here can provoke, and of one a newer library may add.
        for code, bases in ((1, ()), (6, (tarnovid.BoardLost, ConnectionError)),
                            (7, (tarnovid.BoardClosed,)), (99, ())):
            error = tarnovid._error(code, "words")
            self.assertIsInstance(error, (tarnovid.TarnovidError,) + bases)
            if not bases:
                self.assertIs(type(error), tarnovid.TarnovidError)

    def test_errors_survive_pickling_and_a_process_pool(self):
        for code in range(1, 9):
            error = tarnovid._error(code, f"words of {code}")
            copy = pickle.loads(pickle.dumps(error))
            self.assertEqual((type(copy), copy.code, copy.message, str(copy)),
                             (type(error), code, f"words of {code}", f"words of {code}"))
        spawn = multiprocessing.get_context("spawn")
        with concurrent.futures.ProcessPoolExecutor(1, mp_context=spawn) as pool:
            with self.assertRaises(tarnovid.NoBoard) as raised:
                pool.submit(open_in_worker, "no/such/board").result(timeout=30)
        self.assertEqual((raised.exception.code, raised.exception.message),
                         (3, "no board at no/such/board"))

    def test_star_import_leaves_the_builtin_open_alone(self):
        names = {}
        exec("from tarnovid import *", names)
        self.assertNotIn("open", names)
        self.assertIs(names["NoAnswer"], tarnovid.NoAnswer)
        with tarnovid.open("demo"):
            pass

    def test_versions_and_python_3_8(self):
        project = os.environ.get("TARNOVID_PROJECT_VERSION")
        if project:
            self.assertEqual((tarnovid.__version__, tarnovid.version()), (project, project))
        with open(tarnovid.__file__, encoding="utf-8") as source:
            ast.parse(source.read(), feature_version=(3, 8))

    def test_boards_left_open_at_exit(self):
        made = """
import tarnovid
opened = tarnovid.open("demo")
made = tarnovid.Board("demo")
if hasattr(tarnovid._lib, "tarnovid_wait"):
    waited = tarnovid.wait("demo", 0)
try:
    wrong = tarnovid.Board(12345)
except TypeError:
    pass
cycle = tarnovid.open("demo")
cycle.me = cycle
tarnovid.Board.kept = tarnovid.Board("demo")
"""
        # A daemon thread still calling: the board is closed under it, or it is stopped first.
        calling = """
import threading, tarnovid
busy = tarnovid.open("demo")
started = threading.Event()
def reads():
    started.set()
    try:
        while True:
            busy.read_inputs()
    except (tarnovid.BoardClosed, ValueError):
        pass
threading.Thread(target=reads, daemon=True).start()
started.wait()
"""
        for script in (made, calling):
            done = run_python(script + 'print("done")')
            self.assertEqual((done.returncode, done.stdout, done.stderr), (0, "done\n", ""), script)

    def test_close_while_another_thread_calls(self):
        board = tarnovid.open("demo")
        started = threading.Event()
        ended = []

        def reads():
            started.set()
            try:
                while True:
                    board.read_inputs()
            except Exception as e:
                ended.append(e)

        reader = threading.Thread(target=reads)
        reader.start()
        started.wait()
        board.close()
        reader.join(5)
        self.assertFalse(reader.is_alive())
        # Refused as closed, before the call or in it; never a board freed under the call (which
        # would crash or fail otherwise).
        self.assertEqual(len(ended), 1)
        self.assertIsInstance(ended[0], (ValueError, tarnovid.BoardClosed))


class WaitAndTimeOut(unittest.TestCase):
    def test_wait_opens_a_board_there_and_gives_up_when_the_time_is_up(self):
        with tarnovid.wait("demo") as board:
            self.assertEqual(board.info.product, "USB Tarnovid")
        started = time.monotonic()
        with self.assertRaises(tarnovid.NoBoard) as raised:
            tarnovid.wait("no/such/board", 0.45)
        self.assertLess(abs(time.monotonic() - started - 0.45), 0.3)
        self.assertEqual(raised.exception.message, "no board at no/such/board (waited 450 ms)")

    def test_ctrl_c_ends_a_wait_without_limit(self):
        waiting = subprocess.Popen(
            [sys.executable, "-c",
             "import tarnovid; print('waiting', flush=True); tarnovid.wait('no/such/board')"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.assertEqual(waiting.stdout.readline(), "waiting\n")
        time.sleep(0.3)
        waiting.send_signal(signal.SIGINT)
        try:
            _, stderr = waiting.communicate(timeout=2)
        finally:
            waiting.kill()
        self.assertIn("KeyboardInterrupt", stderr)


@needs_fixture
class SystemDevices(unittest.TestCase):
    def test_boards_lists_what_tarnovidctl_list_shows(self):
        boards = tarnovid.boards()
        self.assertEqual([b.path for b in boards], ["sim/a", "sim/b", "sim/locked", "sim/stalled"])
        first = boards[0]
        self.assertEqual((first.serial, first.manufacturer, first.product),
                         ("A1", "Dravelko", "USB Tarnovid"))
        self.assertEqual((first.vendor_id, first.product_id, first.release, first.bus),
                         (0x1234, 0x0001, 0x0001, "USB"))
        self.assertTrue(first.matches)

        everything = tarnovid.boards(all=True)
        self.assertEqual([b.path for b in everything][4:], ["sim/0"])
        lookalike = everything[4]
        self.assertEqual(lookalike.differs, ("release", "product", "bus"))
        self.assertFalse(lookalike.matches)
        self.assertEqual((lookalike.release, lookalike.bus, lookalike.product),
                         (0x0102, "Bluetooth", "USB Tarnovid \u2713"))

    def test_open_takes_the_first_board_and_a_path_takes_that_one(self):
        with tarnovid.open() as board:
            self.assertEqual(board.read_inputs(), 0x06)
        with tarnovid.Board("sim/b") as board:
            self.assertEqual(board.read_inputs(), 0x01)
        with self.assertRaises(tarnovid.NoBoard) as raised:
            tarnovid.open("sim/0")
        self.assertEqual(raised.exception.message,
                         "no board at sim/0: it differs in release, product, bus")
        with self.assertRaises(PermissionError) as raised:
            tarnovid.open("sim/locked")
        self.assertIsInstance(raised.exception, tarnovid.AccessDenied)
        with tarnovid.open("sim/stalled") as board, self.assertRaises(TimeoutError) as raised:
            board.read_inputs()
        self.assertIsInstance(raised.exception, tarnovid.NoAnswer)

    def test_a_board_says_what_it_is(self):
        with tarnovid.open() as board:
            self.assertEqual(board.path, "sim/a")
            self.assertEqual((board.info.serial, board.info.bus, board.info.matches),
                             ("A1", "USB", True))
            self.assertIn("'sim/a'", repr(board))
        with tarnovid.wait(None, 0) as board:
            self.assertEqual(board.path, "sim/a")

    def test_the_time_out_bounds_each_wait_for_a_silent_board(self):
        with tarnovid.open("sim/stalled", timeout=0.05) as board:
            for timeout, least in ((0.05, 0.0), (0.25, 0.25)):
                board.timeout = timeout
                self.assertEqual(board.timeout, timeout)
                started = time.monotonic()
                with self.assertRaises(tarnovid.NoAnswer):
                    board.read_inputs()
                self.assertTrue(least <= time.monotonic() - started < timeout + 0.4, timeout)

    def test_close_from_another_thread_ends_a_call_in_flight(self):
        board = tarnovid.open("sim/stalled", timeout=5)
        started = threading.Event()
        ended = []

        def reads():
            started.set()
            try:
                board.read_inputs()
            except Exception as e:
                ended.append((e, time.monotonic()))

        reader = threading.Thread(target=reads)
        reader.start()
        started.wait()
        time.sleep(0.2)  # the reader is in its call; this thread runs meanwhile
        closing = time.monotonic()
        board.close()
        self.assertLess(time.monotonic() - closing, 0.1)
        reader.join(6)
        self.assertEqual(len(ended), 1)
        error, when = ended[0]
        self.assertIsInstance(error, tarnovid.BoardClosed)
        self.assertEqual(error.code, tarnovid.CLOSED)
        self.assertLess(when - closing, 0.5)


if __name__ == "__main__":
    unittest.main()
