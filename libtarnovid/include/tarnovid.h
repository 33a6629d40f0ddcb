/*
 * libtarnovid: the USB Tarnovid board from C and from any language that can call C.
 *
 * The board has eight outputs D0..D7 and three inputs T2..T4. Open it, switch its outputs, read
 * its inputs, close it:
 *
 *     tarnovid_board *board;
 *     if (tarnovid_open("demo", &board) == TARNOVID_OK) {  // NULL: the first real board
 *         unsigned char inputs;
 *         tarnovid_set_outputs(board, 0x81);     // D7 and D0 on
 *         tarnovid_read_inputs(board, &inputs);  // bit 0 T2, bit 1 T3, bit 2 T4
 *         tarnovid_close(board);
 *     }
 *
 * Errors. Every call that can fail returns TARNOVID_OK (0) or one of the codes below; codes 1 to
 * 6 are the exit codes of the command-line tool tarnovidctl for the same case.
 * tarnovid_last_error() then says what happened, in one line. Later versions may add codes: a
 * program treats any code it does not know as a failure. The library never aborts the program,
 * never lets a C++ exception out, and never prints.
 *
 * Time. No call waits for the board longer than its time-out (TARNOVID_TIMEOUT_MS, 500 ms, until
 * tarnovid_set_timeout changes it): a board that stops answering or stops taking reports makes
 * the call fail with TARNOVID_NO_ANSWER once its time is up, whether that wait or the system's
 * own ended it. tarnovid_set_outputs waits at most one time-out for the board to take the report;
 * tarnovid_read_inputs at most that for the request and again for the answer. tarnovid_open,
 * tarnovid_list and tarnovid_close never wait for the board, only for the system. While other
 * threads' calls are running on the same board, a call first waits for them, at most three
 * time-outs (TARNOVID_BUSY_WAIT_MS at the default), and fails with TARNOVID_NO_ANSWER if they
 * are still running then.
 *
 * Threads. Every function may be called from any thread. Different boards are independent. One
 * board may be used from several threads: the library runs their calls on it one at a time,
 * first come, first served. tarnovid_close may come from any thread at any moment: calls in
 * progress or waiting on that board end within milliseconds with TARNOVID_CLOSED, and the
 * board's memory goes when the last of them has left. Using a board after tarnovid_close has
 * returned is the caller's error: the library answers TARNOVID_BAD_ARGUMENT where it can tell,
 * but a later tarnovid_open may hand out the same pointer again. tarnovid_last_error() belongs to
 * the calling thread. Each open board has one thread of the library's own that does all I/O on
 * the device; once a board has been opened the library stays loaded until the process ends (it
 * may still be running a call the system holds up), so unloading it is safe at any moment.
 *
 * A board is lost (TARNOVID_BOARD_LOST) only when it has gone: unplugged, or a look at it fails.
 * It stays lost: close it, then open it again, or wait for it with tarnovid_wait.
 *
 * Versions. Fields may be added at the end of tarnovid_device in later versions; a program built
 * against a newer header checks tarnovid_version_number() >= the version that added a field
 * before it reads that field.
 */
#ifndef TARNOVID_H
#define TARNOVID_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(TARNOVID_BUILDING) && defined(_WIN32)
#define TARNOVID_API __declspec(dllexport)
#elif defined(TARNOVID_BUILDING) && defined(__GNUC__)
#define TARNOVID_API __attribute__((visibility("default")))
#else
#define TARNOVID_API
#endif

/* TARNOVID_VERSION_MAJOR, _MINOR, _PATCH and TARNOVID_VERSION_NUMBER: this header's version. */
#include "tarnovid_version.h"
#define TARNOVID_MAKE_VERSION(major, minor, patch) (((major) << 16) | ((minor) << 8) | (patch))

/* Results. 1 to 6 are tarnovidctl's exit codes for the same case. */
#define TARNOVID_OK 0
#define TARNOVID_FAILED 1        /* the board could not be opened for another reason; any other */
#define TARNOVID_BAD_ARGUMENT 2  /* NULL where a pointer is needed, an empty path */
#define TARNOVID_NO_BOARD 3      /* no matching board (at that path) */
#define TARNOVID_ACCESS_DENIED 4 /* the system refused the board for want of permission */
#define TARNOVID_NO_ANSWER 5     /* the board did not answer, or take a report, in time */
#define TARNOVID_BOARD_LOST 6    /* the board went away (now or in an earlier call) */
#define TARNOVID_CLOSED 7        /* another thread closed the board during the call */

/* The board's time-out until tarnovid_set_timeout: the longest wait for it to take one report,
   or for one answer; and the bounds of tarnovid_set_timeout. */
#define TARNOVID_TIMEOUT_MS 500
#define TARNOVID_TIMEOUT_MIN_MS 1
#define TARNOVID_TIMEOUT_MAX_MS 60000
/* Longest wait for other threads' calls on the same board to end: three time-outs. */
#define TARNOVID_BUSY_WAIT_MS 1500

/* What makes a board: how it identifies itself on USB. */
#define TARNOVID_VENDOR_ID 0x1234
#define TARNOVID_PRODUCT_ID 0x0001
#define TARNOVID_RELEASE 0x0001
#define TARNOVID_MANUFACTURER "Dravelko"
#define TARNOVID_PRODUCT "USB Tarnovid"

/* The path of the simulated board: its inputs T2, T3, T4 follow its outputs D0, D1, D2. It is
   the board of tarnovid-demo and lives as long as the program; every open of it in one program
   meets the same board. It is never listed, and never taken for the first board. */
#define TARNOVID_DEMO "demo"

typedef struct tarnovid_board tarnovid_board;

/* Opens a board: the first matching one (in path order) for NULL, the one at `path` (as
   tarnovid_list gives it), or the simulated board for "demo". *board is set on success and NULL
   otherwise. */
TARNOVID_API int tarnovid_open(const char* path, tarnovid_board** board);

/* As tarnovid_open, but if there is no such board yet, waits for one to be plugged in, at most
   timeout_ms (negative: without limit; 0: one look), and opens it as soon as it is there. It
   hears of new devices from the system where the system announces them (Linux, Windows) and
   looks again every 200 ms elsewhere. TARNOVID_NO_BOARD when the time is up; any other failure
   of the open (access denied, say) is returned at once. */
TARNOVID_API int tarnovid_wait(const char* path, int timeout_ms, tarnovid_board** board);

/* Bit i of `outputs` drives Di (1 = on). Returns once the board has taken the report. */
TARNOVID_API int tarnovid_set_outputs(tarnovid_board* board, unsigned char outputs);

/* Asks the board for its inputs and waits for its answer: bit 0 T2, bit 1 T3, bit 2 T4 (the
   other bits as the board sends them). *inputs is left alone on failure. */
TARNOVID_API int tarnovid_read_inputs(tarnovid_board* board, unsigned char* inputs);

/* The board's time-out from the next call on: the longest wait for it to take one report, or for
   one answer. TARNOVID_TIMEOUT_MIN_MS to TARNOVID_TIMEOUT_MAX_MS, else TARNOVID_BAD_ARGUMENT. */
TARNOVID_API int tarnovid_set_timeout(tarnovid_board* board, int timeout_ms);

/* Gives the board up, from any thread, at any moment (see Threads). NULL, or a board already
   closed, does nothing. Never waits for the board. */
TARNOVID_API void tarnovid_close(tarnovid_board* board);

/* A short English text for a result code, never NULL. */
TARNOVID_API const char* tarnovid_strerror(int code);

/* What the calling thread's last call that can fail ran into, in one line of UTF-8 ("" after a
   call that succeeded): the path and the system's reason for a refused open, and what to do
   about a permission problem. Valid until this thread's next call into the library. */
TARNOVID_API const char* tarnovid_last_error(void);

/* The loaded library's version, which may be newer than this header's: as text ("1.1.0"), and as
   a number comparable with TARNOVID_VERSION_NUMBER and TARNOVID_MAKE_VERSION(1, 1, 0). */
TARNOVID_API const char* tarnovid_version(void);
TARNOVID_API int tarnovid_version_number(void);

/* The bus a device sits on. */
#define TARNOVID_BUS_UNKNOWN 0
#define TARNOVID_BUS_USB 1
#define TARNOVID_BUS_BLUETOOTH 2
#define TARNOVID_BUS_I2C 3
#define TARNOVID_BUS_SPI 4

/* Which of a board's marks a device lacks (bits of tarnovid_device.differs). */
#define TARNOVID_DIFFERS_VENDOR_ID 1    /* not TARNOVID_VENDOR_ID */
#define TARNOVID_DIFFERS_PRODUCT_ID 2   /* not TARNOVID_PRODUCT_ID */
#define TARNOVID_DIFFERS_RELEASE 4      /* bcdDevice not TARNOVID_RELEASE */
#define TARNOVID_DIFFERS_MANUFACTURER 8 /* not exactly TARNOVID_MANUFACTURER */
#define TARNOVID_DIFFERS_PRODUCT 16     /* not exactly TARNOVID_PRODUCT */
#define TARNOVID_DIFFERS_BUS 32         /* not on USB */

/* One HID device, as the system describes it before it is opened. The library allocates these;
   later versions may add fields at the end, so never allocate, copy or size one yourself. */
typedef struct tarnovid_device tarnovid_device;
struct tarnovid_device {
    tarnovid_device* next;    /* NULL after the last */
    const char* path;         /* the system's name for it; hand it to tarnovid_open */
    const char* serial;       /* UTF-8, "" when the device has none */
    const char* manufacturer; /* UTF-8 */
    const char* product;      /* UTF-8 */
    unsigned short vendor_id;
    unsigned short product_id;
    unsigned short release; /* bcdDevice */
    int bus;                /* TARNOVID_BUS_* */
    unsigned int differs;   /* TARNOVID_DIFFERS_* bits; 0 for a board */
};

/* The boards plugged in, in the order tarnovid_open(NULL) takes them; with `all` non-zero also
   every other HID device, each with what differs: first those with a board's ids (1234:0001),
   then the rest. *devices is NULL when there is none. Free the list with tarnovid_free_list.
   TARNOVID_FAILED, with the system's reason, when the system cannot list its devices. */
TARNOVID_API int tarnovid_list(int all, tarnovid_device** devices);

/* Frees a list from tarnovid_list. NULL is fine. */
TARNOVID_API void tarnovid_free_list(tarnovid_device* devices);

/* The names the programs give a device's fields: a TARNOVID_DIFFERS_* bit's ("vendor",
   "product_id", "release", "manufacturer", "product", "bus", as tarnovidctl list --json and the
   messages name them; "" for anything else), and a TARNOVID_BUS_* value's ("USB", "Bluetooth",
   "I2C", "SPI", "unknown"). Never NULL. */
TARNOVID_API const char* tarnovid_field_name(unsigned int differs_bit);
TARNOVID_API const char* tarnovid_bus_name(int bus);

/* What the board reported of itself when it was opened (differs 0, next NULL), valid until
   tarnovid_close; also while it is lost. Its path opens the same board again: the system's path,
   or for a demo board the demo path it was opened by. NULL, with tarnovid_last_error set, for a
   board that is not open. */
TARNOVID_API const tarnovid_device* tarnovid_board_info(tarnovid_board* board);

#ifdef __cplusplus
}
#endif

#endif /* TARNOVID_H */
