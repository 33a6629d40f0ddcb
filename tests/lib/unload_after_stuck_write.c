/* A host that loads the library, leaves a write stuck in the system, closes the board and
   unloads the library, as plugin hosts and interpreters freeing a library do; then lives on
   while the board's thread comes out of that write. The library must still be there for it. */

#include "tarnovid.h"

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

typedef int (*OpenFn)(const char*, tarnovid_board**);
typedef int (*SetFn)(tarnovid_board*, unsigned char);
typedef void (*CloseFn)(tarnovid_board*);

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s LIBRARY\n", argv[0]);
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        return 2;
    }
    /* POSIX's way from dlsym's object pointer to a function pointer. */
    OpenFn open;
    SetFn set;
    CloseFn close;
    void* found[3] = {dlsym(library, "tarnovid_open"), dlsym(library, "tarnovid_set_outputs"),
                      dlsym(library, "tarnovid_close")};
    memcpy(&open, &found[0], sizeof open);
    memcpy(&set, &found[1], sizeof set);
    memcpy(&close, &found[2], sizeof close);
    if (found[0] == NULL || found[1] == NULL || found[2] == NULL) {
        fprintf(stderr, "dlsym: %s\n", dlerror());
        return 2;
    }
    tarnovid_board* board = NULL;
    int code = open(NULL, &board);
    if (code != TARNOVID_OK) {
        fprintf(stderr, "open: %d\n", code);
        return 1;
    }
    code = set(board, 0x81);
    if (code != TARNOVID_NO_ANSWER) {
        fprintf(stderr, "set on a stalled board: %d, wanted %d\n", code, TARNOVID_NO_ANSWER);
        return 1;
    }
    close(board);
    dlclose(library);
    /* The system gives the write up a second after it began; the thread then runs on. */
    const struct timespec pause = {2, 0};
    nanosleep(&pause, NULL);
    printf("still here\n");
    return 0;
}
