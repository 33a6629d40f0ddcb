#!/usr/bin/env python3
"""Keeps a running light going on the board through unplug and replug, one output on every
200 ms: when the board is lost, it waits for it to come back and carries on where it was.

    reconnect.py                              the first board plugged in, until Ctrl+C
    reconnect.py demo:replug-after=2000 20    a simulated board that goes away every 2 s and
                                              comes back 2 s later; 20 steps
    reconnect.py PATH [STEPS]                 the board at PATH (tarnovidctl list shows paths)
"""
import contextlib
import sys
import time

import tarnovid


def main() -> int:
    path = sys.argv[1] if len(sys.argv) > 1 else None
    steps = int(sys.argv[2]) if len(sys.argv) > 2 else None  # None: for ever
    board = tarnovid.wait(path)  # the first board may be plugged in after the start, too
    try:
        step = 0
        while steps is None or step < steps:
            try:
                board.set_outputs(1 << (step % 8))
                inputs = board.read_inputs()
            except tarnovid.BoardLost:
                print(f"step {step}: board lost, waiting for it", flush=True)
                board.close()
                # The same board again, by the path it was opened by (None: any board).
                board = tarnovid.wait(path)
                print(f"step {step}: board back", flush=True)
                continue  # this step again, on the board that is back
            print(f"step {step}: D{step % 8} on, T2={inputs & 1} T3={inputs >> 1 & 1} "
                  f"T4={inputs >> 2 & 1}", flush=True)
            step += 1
            time.sleep(0.2)
        with contextlib.suppress(tarnovid.BoardLost):  # all off, if it is still there
            board.set_outputs(0)
    except tarnovid.TarnovidError as e:  # no answer, access denied...: not for this example
        print(f"reconnect: {e.message}", file=sys.stderr)
        return e.code
    except KeyboardInterrupt:
        pass
    finally:
        board.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
