/* The floor of one-byte writes on a serial line: opens PORT as the program does, writes COUNT
 * bytes one write call each (something must drain the other end), and prints the CPU time
 * this process spent, so a benchmark can set the program's CPU per byte against it.
 * Usage: write-floor PORT COUNT   ->   "bytes=N cpu_s=X wall_s=Y" */
#include <stdio.h>
#include <stdlib.h>

#ifdef _WIN32
#include <windows.h>

typedef HANDLE port_t;

static double cpu_seconds(void) {
    FILETIME c, e, k, u;
    GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u);
    ULARGE_INTEGER kk = {.LowPart = k.dwLowDateTime, .HighPart = k.dwHighDateTime};
    ULARGE_INTEGER uu = {.LowPart = u.dwLowDateTime, .HighPart = u.dwHighDateTime};
    return (double)(kk.QuadPart + uu.QuadPart) / 1e7;
}
static double wall_seconds(void) {
    return (double)GetTickCount64() / 1000.0;
}
static int port_open(const char* name, port_t* port) {
    char path[300];
    snprintf(path, sizeof path, "\\\\.\\%s", name);
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    DCB dcb = {.DCBlength = sizeof dcb};
    if (GetCommState(h, &dcb)) {
        dcb.BaudRate = 115200;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        SetCommState(h, &dcb);
    }
    *port = h;
    return 1;
}
static int port_write_byte(port_t port, unsigned char b) {
    DWORD n = 0;
    return WriteFile(port, &b, 1, &n, NULL) && n == 1;
}
static void port_close(port_t port) {
    CloseHandle(port);
}

#else
#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

typedef int port_t;

static double cpu_seconds(void) {
    struct rusage r;
    getrusage(RUSAGE_SELF, &r);
    return (double)(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           (double)(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}
static double wall_seconds(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}
static int port_open(const char* name, port_t* port) {
    const int fd = open(name, O_RDWR | O_NOCTTY);
    if (fd < 0)
        return 0;
    struct termios t;
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        cfsetspeed(&t, B115200);
        tcsetattr(fd, TCSANOW, &t);
    }
    *port = fd;
    return 1;
}
static int port_write_byte(port_t port, unsigned char b) {
    return write(port, &b, 1) == 1;
}
static void port_close(port_t port) {
    close(port);
}
#endif

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: write-floor PORT COUNT\n");
        return 2;
    }
    port_t port;
    if (!port_open(argv[1], &port)) {
        fprintf(stderr, "write-floor: cannot open %s\n", argv[1]);
        return 1;
    }
    const long count = atol(argv[2]);
    const double c0 = cpu_seconds(), w0 = wall_seconds();
    long i = 0;
    while (i < count && port_write_byte(port, 0x55))
        ++i;
    const double cpu = cpu_seconds() - c0, wall = wall_seconds() - w0;
    port_close(port);
    if (i < count) {
        fprintf(stderr, "write-floor: write failed after %ld bytes\n", i);
        return 1;
    }
    printf("bytes=%ld cpu_s=%.3f wall_s=%.3f\n", count, cpu, wall);
    fflush(stdout);
    return 0;
}
