// What the library says about itself: its version and the meaning of its result codes.

#include "tarnovid.h"

#ifndef TARNOVID_VERSION_TEXT
#error "the build gives the project's version as TARNOVID_VERSION_TEXT"
#endif

const char* tarnovid_version(void) { return TARNOVID_VERSION_TEXT; }

int tarnovid_version_number(void) { return TARNOVID_VERSION_NUMBER; }

const char* tarnovid_strerror(int code) {
    switch (code) {
    case TARNOVID_OK:
        return "success";
    case TARNOVID_FAILED:
        return "failed: the board could not be opened, or another failure";
    case TARNOVID_BAD_ARGUMENT:
        return "bad argument";
    case TARNOVID_NO_BOARD:
        return "no board";
    case TARNOVID_ACCESS_DENIED:
        return "access denied: no permission to open the board";
    case TARNOVID_NO_ANSWER:
        return "no answer: the board did not answer, or take a report, in time";
    case TARNOVID_BOARD_LOST:
        return "board lost: it went away";
    case TARNOVID_CLOSED:
        return "closed: another thread closed the board during the call";
    default:
        return "unknown result code";
    }
}
