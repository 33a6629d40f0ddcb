/* tarnovid.dll in a process that brings no C++ runtime of its own: this program is C, linked
   against tarnovid.lib, and runs from a folder that holds only itself and the DLL. The DLL's own
   runtime must start the board's I/O thread, keep each thread's last-error text apart, and let
   threads that called into it end, all without a libstdc++, libgcc or winpthread DLL anywhere.
   Prints one line per failed check; ends with 0 when all passed. */
#include <stdio.h>
#include <string.h>
#include <tarnovid.h>
#include <windows.h>

enum { kCallers = 4, kRounds = 25 };

static int failures;

static void check(int ok, const char* what) {
    if (!ok) {
        printf("FAIL: %s (last error: \"%s\")\n", what, tarnovid_last_error());
        ++failures;
    }
}

/* The demo board's inputs T2..T4 follow its outputs D0..D2. */
static void walkOutputs(tarnovid_board* board) {
    static const unsigned char values[] = {0x01, 0x02, 0x04, 0x07, 0x80, 0x00};
    size_t i;
    for (i = 0; i < sizeof values; ++i) {
        unsigned char inputs = 0xff;
        check(tarnovid_set_outputs(board, values[i]) == TARNOVID_OK, "set_outputs on demo");
        check(tarnovid_read_inputs(board, &inputs) == TARNOVID_OK, "read_inputs on demo");
        check((inputs & 7) == (values[i] & 7), "the inputs follow D0..D2");
    }
}

/* A failed open on one thread, while the main thread's calls succeed in between. */
struct Failing {
    HANDLE failed, goOn;
    int ok;
};

static DWORD WINAPI failingOpen(LPVOID arg) {
    struct Failing* f = arg;
    tarnovid_board* board = (tarnovid_board*)1;
    /* A demo board spelt wrong: refused without a look at the system's devices. */
    f->ok = tarnovid_open("demo:nope", &board) == TARNOVID_BAD_ARGUMENT && board == NULL &&
            strstr(tarnovid_last_error(), "demo:nope") != NULL;
    SetEvent(f->failed);
    WaitForSingleObject(f->goOn, INFINITE);
    f->ok = f->ok && strstr(tarnovid_last_error(), "demo:nope") != NULL;
    return 0;
}

static void lastErrorPerThread(tarnovid_board* board) {
    struct Failing f;
    HANDLE thread;
    f.failed = CreateEventA(NULL, TRUE, FALSE, NULL);
    f.goOn = CreateEventA(NULL, TRUE, FALSE, NULL);
    f.ok = 0;
    thread = CreateThread(NULL, 0, failingOpen, &f, 0, NULL);
    check(thread != NULL, "CreateThread");
    if (thread == NULL)
        return;
    WaitForSingleObject(f.failed, INFINITE);
    check(tarnovid_set_outputs(board, 0) == TARNOVID_OK && tarnovid_last_error()[0] == '\0',
          "another thread's failure leaves this thread's last error empty");
    SetEvent(f.goOn);
    WaitForSingleObject(thread, INFINITE);
    check(f.ok, "a thread keeps its own last error across other threads' calls");
    CloseHandle(thread);
    CloseHandle(f.failed);
    CloseHandle(f.goOn);
}

/* Several threads on one board: their calls take turns on the board's one I/O thread. */
struct Caller {
    tarnovid_board* board;
    unsigned char value;
    int failed;
};

static DWORD WINAPI callInTurns(LPVOID arg) {
    struct Caller* c = arg;
    int i;
    for (i = 0; i < kRounds; ++i) {
        unsigned char inputs;
        /* Whichever thread's value the board holds, one output at most is on. */
        if (tarnovid_set_outputs(c->board, c->value) != TARNOVID_OK ||
            tarnovid_read_inputs(c->board, &inputs) != TARNOVID_OK ||
            (inputs != 0 && inputs != 1 && inputs != 2 && inputs != 4))
            ++c->failed;
    }
    return 0;
}

static void callersTakeTurns(tarnovid_board* board) {
    struct Caller callers[kCallers];
    HANDLE threads[kCallers];
    int i, started = 0;
    for (i = 0; i < kCallers; ++i) {
        callers[i].board = board;
        callers[i].value = (unsigned char)(1u << i);
        callers[i].failed = 0;
        threads[started] = CreateThread(NULL, 0, callInTurns, &callers[i], 0, NULL);
        check(threads[started] != NULL, "CreateThread");
        if (threads[started] != NULL)
            ++started;
    }
    WaitForMultipleObjects((DWORD)started, threads, TRUE, INFINITE);
    for (i = 0; i < started; ++i)
        CloseHandle(threads[i]);
    for (i = 0; i < kCallers; ++i)
        check(callers[i].failed == 0, "every call of threads taking turns on one board");
}

int main(void) {
    tarnovid_board* board = NULL;
    int round;
    check(strcmp(tarnovid_version(), TARNOVID_VERSION_TEXT) == 0, "the DLL's version");
    /* Twice: the board's I/O thread is started and ended again within one process. */
    for (round = 0; round < 2; ++round) {
        check(tarnovid_open(TARNOVID_DEMO, &board) == TARNOVID_OK, "open demo");
        if (board == NULL)
            break;
        check(tarnovid_last_error()[0] == '\0', "no last error after a successful open");
        walkOutputs(board);
        lastErrorPerThread(board);
        callersTakeTurns(board);
        tarnovid_close(board);
    }
    printf("%s: %d failed checks\n", failures ? "FAIL" : "ok", failures);
    return failures ? 1 : 0;
}
