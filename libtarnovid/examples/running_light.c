/* Switches the outputs D0..D7 on one at a time and reads the inputs after each step. On the demo
   board, whose inputs T2..T4 follow D0..D2, the inputs light up in turn for the first three.

       running_light           the first board plugged in
       running_light demo      the simulated board
       running_light PATH      the board at PATH (tarnovidctl list shows the paths) */
#include <stdio.h>
#include <tarnovid.h>

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : NULL;
    tarnovid_board* board;
    int code = tarnovid_open(path, &board);
    int i;
    if (code != TARNOVID_OK) {
        fprintf(stderr, "running_light: %s\n", tarnovid_last_error());
        return code;
    }
    for (i = 0; i < 8 && code == TARNOVID_OK; ++i) {
        unsigned char inputs = 0;
        code = tarnovid_set_outputs(board, (unsigned char)(1u << i));
        if (code == TARNOVID_OK)
            code = tarnovid_read_inputs(board, &inputs);
        if (code == TARNOVID_OK)
            printf("D%d on: T2=%d T3=%d T4=%d\n", i, inputs & 1, (inputs >> 1) & 1,
                   (inputs >> 2) & 1);
    }
    if (code != TARNOVID_OK)
        fprintf(stderr, "running_light: %s\n", tarnovid_last_error());
    tarnovid_set_outputs(board, 0);
    tarnovid_close(board);
    return code;
}
