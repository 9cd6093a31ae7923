/* The floor: the least a program can do for one exchange on a pty. Writes
 * the request, then polls and reads until the reply's length field says it
 * is whole. No hunting and no checks; it does discard stale input before
 * each request, as every correct client must.
 *   floor_client PORT COUNT trigger|status|timeout
 * Prints the same line as exchange_client. */
#define _DEFAULT_SOURCE /* cfmakeraw */
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

static double seconds(clockid_t clock) {
    struct timespec now;
    clock_gettime(clock, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

static int compare(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

/* 1 when the whole reply arrived within 1000 ms. */
static int exchange(int fd, const unsigned char* request) {
    unsigned char reply[65540];
    size_t have = 0, want = 4;
    tcflush(fd, TCIFLUSH);
    if (write(fd, request, 10) != 10) return 0;
    while (have < want) {
        struct pollfd entry = {fd, POLLIN, 0};
        if (poll(&entry, 1, 1000) <= 0) return 0;
        const ssize_t got = read(fd, reply + have, want - have);
        if (got <= 0) return 0;
        have += (size_t)got;
        if (have == 4) want = 4 + (size_t)(reply[2] | reply[3] << 8);
    }
    return 1;
}

int main(int argc, char** argv) {
    static const unsigned char trigger[10] = {0xEB, 0x90, 0x06, 0x00, 0x14, 0x00, 0x00, 0x95, 0x01, 0xCC};
    static const unsigned char status[10] = {0xEB, 0x90, 0x06, 0x00, 0xC1, 0x00, 0x00, 0x42, 0x02, 0xCC};
    if (argc != 4) return 2;
    const int count = atoi(argv[2]);
    const unsigned char* request = strcmp(argv[3], "status") == 0 ? status : trigger;
    const int fd = open(argv[1], O_RDWR | O_NOCTTY);
    struct termios settings;
    if (fd < 0 || count <= 0 || tcgetattr(fd, &settings) != 0) return 1;
    cfmakeraw(&settings);
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    tcsetattr(fd, TCSANOW, &settings);

    double* latencies = malloc(sizeof(double) * (size_t)count);
    int failures = 0;
    const double cpu_before = seconds(CLOCK_PROCESS_CPUTIME_ID);
    for (int i = 0; i < count; ++i) {
        const double start = seconds(CLOCK_MONOTONIC);
        if (!exchange(fd, request)) ++failures;
        latencies[i] = (seconds(CLOCK_MONOTONIC) - start) * 1e6;
    }
    const double cpu_us = (seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu_before) * 1e6 / count;
    qsort(latencies, (size_t)count, sizeof(double), compare);
    int p99 = count * 99 / 100;
    if (p99 >= count) p99 = count - 1;
    printf("median_us=%.1f p99_us=%.1f cpu_us_per_exchange=%.1f failures=%d\n", latencies[count / 2],
           latencies[p99], cpu_us, failures);
    free(latencies);
    close(fd);
    return 0;
}
