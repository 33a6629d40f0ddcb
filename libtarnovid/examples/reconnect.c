/* Keeps a running light going on the board through unplug and replug, one output on every
   200 ms: when the board is lost, it closes it, waits for it to come back, and carries on where
   it was.

       reconnect                    the first board plugged in, until Ctrl+C
       reconnect demo:replug-after=2000 20
                                    a simulated board that goes away every 2 s and comes back
                                    2 s later; 20 steps
       reconnect PATH [STEPS]       the board at PATH (tarnovidctl list shows the paths) */
#ifndef _WIN32
#define _POSIX_C_SOURCE 200809L /* nanosleep, also under -std=c99 */
#endif
#include <stdio.h>
#include <stdlib.h>
#include <tarnovid.h>
#ifdef _WIN32
#include <windows.h>
static void pause_ms(unsigned ms) { Sleep(ms); }
#else
#include <time.h>
static void pause_ms(unsigned ms) {
    struct timespec t;
    t.tv_sec = ms / 1000;
    t.tv_nsec = (long)(ms % 1000) * 1000000L;
    nanosleep(&t, NULL);
}
#endif

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : NULL;
    long steps = argc > 2 ? strtol(argv[2], NULL, 10) : -1; /* -1: for ever */
    tarnovid_board* board;
    long step;
    /* Waits without limit for the first board too, so it may be plugged in after the start. */
    int code = tarnovid_wait(path, -1, &board);
    if (code != TARNOVID_OK) {
        fprintf(stderr, "reconnect: %s\n", tarnovid_last_error());
        return code;
    }
    for (step = 0; steps < 0 || step < steps; ++step) {
        unsigned char inputs = 0;
        code = tarnovid_set_outputs(board, (unsigned char)(1u << (step % 8)));
        if (code == TARNOVID_OK)
            code = tarnovid_read_inputs(board, &inputs);
        if (code == TARNOVID_OK) {
            printf("step %ld: D%ld on, T2=%d T3=%d T4=%d\n", step, step % 8, inputs & 1,
                   (inputs >> 1) & 1, (inputs >> 2) & 1);
        } else if (code == TARNOVID_BOARD_LOST) {
            printf("step %ld: board lost, waiting for it\n", step);
            fflush(stdout);
            tarnovid_close(board);
            /* The same board again, by the path it was opened by (NULL: any board). */
            code = tarnovid_wait(path, -1, &board);
            if (code != TARNOVID_OK)
                break;
            printf("step %ld: board back\n", step);
            --step; /* this step again, on the board that is back */
        } else {
            break; /* no answer, access denied...: not for this example to mend */
        }
        fflush(stdout);
        pause_ms(200);
    }
    if (code != TARNOVID_OK) {
        fprintf(stderr, "reconnect: %s\n", tarnovid_last_error());
        return code;
    }
    tarnovid_set_outputs(board, 0);
    tarnovid_close(board);
    return 0;
}
