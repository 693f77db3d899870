/* Modem-status shim for tests: a pseudo-terminal has no modem lines, so TIOCMGET on a pty
 * slave fails. Preloaded (LD_PRELOAD) into the program under test, this answers TIOCMGET on
 * pty slaves with the lines named in the file $VX_MODEM_FILE ("DSR=1", "CTS=0", ... one per
 * line; lines not named are off). Every other call, and every call when the variable is unset
 * or the file unreadable, goes to the real ioctl. */
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

/* Returns 1 and the TIOCM_* bits when the file names the lines, 0 otherwise. */
static int read_lines(int* bits) {
    const char* path = getenv("VX_MODEM_FILE");
    if (!path || !*path)
        return 0;
    FILE* f = fopen(path, "r");
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
            *(int*)arg = bits;
            return 0;
        }
    }
    return real_ioctl(fd, request, arg);
}
