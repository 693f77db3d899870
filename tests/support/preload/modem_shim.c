/* Modem-line shim for tests: a pseudo-terminal has no modem lines, so TIOCMGET, TIOCMBIS,
 * TIOCMBIC and TIOCMSET on a pty slave fail. Preloaded (LD_PRELOAD) into the program under
 * test (the Linux build, or wine running the exe, whose EscapeCommFunction and
 * GetCommModemStatus end in these calls), it plays the lines of pty slaves:
 * - TIOCMGET answers the lines named in the file $VX_MODEM_FILE ("DSR=1", "CTS=0", ... one per
 *   line; lines not named are off), plus RTS and DTR as the program last set them;
 * - TIOCMBIS, TIOCMBIC and TIOCMSET succeed and keep RTS and DTR, and each call appends the
 *   lines it set to the file $VX_MODEM_LOG when that is set ("RTS=1", "DTR=0"; written before
 *   the call returns, so a peer that reads the log when the next bytes arrive sees the lines
 *   under which they were written);
 * - TIOCOUTQ reports bytes still queued for sending while the file says "CTS=0" explicitly:
 *   a printer holding CTS low keeps the program's output from leaving, so every wait for
 *   it to drain runs into its bound (the bytes themselves still reach the pty's peer).
 * Every other call, and every call when $VX_MODEM_FILE is unset or unreadable, goes to the
 * real ioctl. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

static int is_pty_slave(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return 0;
    /* Unix98 pty slaves: majors 136 to 143. */
    return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

static FILE* open_modem_file(void) {
    const char* path = getenv("VX_MODEM_FILE");
    return path && *path ? fopen(path, "r") : NULL;
}

/* Returns 1 and the TIOCM_* bits when the file names the lines, 0 otherwise. */
static int read_lines(int* bits) {
    FILE* f = open_modem_file();
    if (!f)
        return 0;
    static const struct {
        const char* name;
        int bit;
    } names[] = {
        {"DSR", TIOCM_DSR}, {"CTS", TIOCM_CTS}, {"DCD", TIOCM_CAR},
        {"RI", TIOCM_RNG},  {"DTR", TIOCM_DTR}, {"RTS", TIOCM_RTS},
    };
    char line[64];
    int value = 0;
    while (fgets(line, sizeof line, f)) {
        for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
            size_t n = strlen(names[i].name);
            if (strncmp(line, names[i].name, n) == 0 && line[n] == '=' && line[n + 1] == '1')
                value |= names[i].bit;
        }
    }
    fclose(f);
    *bits = value;
    return 1;
}

/* Output said to wait behind CTS; any count above zero keeps a drain waiting. */
#define HELD_OUTPUT_BYTES 64

/* 1 when the modem file holds a line "CTS=0". */
static int cts_held_low(void) {
    FILE* f = open_modem_file();
    if (!f)
        return 0;
    char line[64];
    int low = 0;
    while (fgets(line, sizeof line, f)) {
        if (strncmp(line, "CTS=0", 5) == 0 && (line[5] == '\n' || line[5] == '\0'))
            low = 1;
    }
    fclose(f);
    return low;
}

/* RTS and DTR as the program set them (one port is open at a time). */
static int out_lines;

static void log_lines(int mask) {
    const char* path = getenv("VX_MODEM_LOG");
    if (!path || !*path)
        return;
    FILE* f = fopen(path, "a");
    if (!f)
        return;
    if (mask & TIOCM_RTS)
        fprintf(f, "RTS=%d\n", (out_lines & TIOCM_RTS) ? 1 : 0);
    if (mask & TIOCM_DTR)
        fprintf(f, "DTR=%d\n", (out_lines & TIOCM_DTR) ? 1 : 0);
    fclose(f);
}

int ioctl(int fd, unsigned long request, ...) {
    static ioctl_fn real_ioctl;
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    if (!real_ioctl) {
        real_ioctl = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
        if (!real_ioctl) {
            errno = ENOSYS;
            return -1;
        }
    }
    if (request == TIOCMGET && arg && is_pty_slave(fd)) {
        int bits = 0;
        if (read_lines(&bits)) {
            *(int*)arg = (bits & ~(TIOCM_RTS | TIOCM_DTR)) | out_lines;
            return 0;
        }
    }
    if (request == TIOCOUTQ && arg && is_pty_slave(fd) && cts_held_low()) {
        *(int*)arg = HELD_OUTPUT_BYTES;
        return 0;
    }
    if ((request == TIOCMBIS || request == TIOCMBIC || request == TIOCMSET) && arg &&
        is_pty_slave(fd)) {
        int bits = 0;
        if (read_lines(&bits)) {
            const int want = *(const int*)arg & (TIOCM_RTS | TIOCM_DTR);
            if (request == TIOCMBIS) {
                out_lines |= want;
                log_lines(want);
            } else if (request == TIOCMBIC) {
                out_lines &= ~want;
                log_lines(want);
            } else {
                out_lines = want;
                log_lines(TIOCM_RTS | TIOCM_DTR);
            }
            return 0;
        }
    }
    return real_ioctl(fd, request, arg);
}
