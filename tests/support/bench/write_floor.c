/* The floor of one-byte writes on a serial line: opens PORT as the program does, writes COUNT
 * bytes one write call each (something must drain the other end), and prints the CPU time
 * this process spent, so a benchmark can set the program's CPU per byte against it.
 * Usage: write-floor PORT COUNT   ->   "bytes=N cpu_s=X wall_s=Y" */
#include <stdio.h>
#include <stdlib.h>

#ifdef _WIN32
#include <windows.h>

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

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: write-floor PORT COUNT\n");
        return 2;
    }
    char path[300];
    snprintf(path, sizeof path, "\\\\.\\%s", argv[1]);
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "write-floor: cannot open %s (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    DCB dcb = {.DCBlength = sizeof dcb};
    GetCommState(h, &dcb);
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(h, &dcb);
    const long count = atol(argv[2]);
    const double c0 = cpu_seconds(), w0 = wall_seconds();
    unsigned char b = 0x55;
    for (long i = 0; i < count; ++i) {
        DWORD n = 0;
        if (!WriteFile(h, &b, 1, &n, NULL) || n != 1) {
            fprintf(stderr, "write-floor: write failed after %ld bytes\n", i);
            CloseHandle(h);
            return 1;
        }
    }
    printf("bytes=%ld cpu_s=%.3f wall_s=%.3f\n", count, cpu_seconds() - c0, wall_seconds() - w0);
    CloseHandle(h);
    return 0;
}

#else
#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

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

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: write-floor PORT COUNT\n");
        return 2;
    }
    const int fd = open(argv[1], O_RDWR | O_NOCTTY);
    if (fd < 0) {
        perror("write-floor: open");
        return 1;
    }
    struct termios t;
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        cfsetspeed(&t, B115200);
        tcsetattr(fd, TCSANOW, &t);
    }
    const long count = atol(argv[2]);
    const double c0 = cpu_seconds(), w0 = wall_seconds();
    unsigned char b = 0x55;
    for (long i = 0; i < count; ++i) {
        if (write(fd, &b, 1) != 1) {
            fprintf(stderr, "write-floor: write failed after %ld bytes\n", i);
            close(fd);
            return 1;
        }
    }
    printf("bytes=%ld cpu_s=%.3f wall_s=%.3f\n", count, cpu_seconds() - c0, wall_seconds() - w0);
    close(fd);
    return 0;
}
#endif
