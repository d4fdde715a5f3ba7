/*
 * snbench_port: the C library's own port throughput, the peer the Python
 * package is measured against (bench/bench_python.py).  Plain C through the
 * shared library, as a C program of a user would move bytes.
 *   snbench_port DEVICE PORT SPEED write|read BYTES
 * Prints "BYTES SECONDS": write times one snSerWrite of the whole buffer;
 * read times snSerRead calls of one block from the first byte to the last.
 */
#define _POSIX_C_SOURCE 200809L /* clock_gettime */

#include <snLib.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double now(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static int timedWrite(SnSerial* port, unsigned char* data, uint32_t bytes) {
    for (uint32_t i = 0; i < bytes; ++i) data[i] = (unsigned char)(i * 7u + i / 256u);
    const double start = now();
    const int sent = snSerWrite(port, data, bytes);
    const double seconds = now() - start;
    printf("%d %.6f\n", sent, seconds);
    return sent == (int)bytes ? 0 : 1;
}

/* Gives up when nothing has come for three seconds. */
static int timedRead(SnSerial* port, unsigned char* data, uint32_t bytes) {
    uint32_t have = 0;
    double start = 0, last = now();
    while (have < bytes && now() - last < 3.0) {
        uint32_t want = bytes - have < SN_BLOCK_BYTES ? bytes - have : SN_BLOCK_BYTES;
        const int got = snSerRead(port, data + have, want);
        if (got <= 0) continue;
        last = now();
        if (have == 0) start = last;
        have += (uint32_t)got;
    }
    printf("%u %.6f\n", have, last - start);
    return have == bytes ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc != 6 || (strcmp(argv[4], "write") != 0 && strcmp(argv[4], "read") != 0)) {
        fprintf(stderr, "usage: snbench_port DEVICE PORT SPEED write|read BYTES\n");
        return 2;
    }
    const uint32_t bytes = (uint32_t)strtoul(argv[5], NULL, 10);
    unsigned char* data = malloc(bytes + 1u);
    initSensorNodeLib();
    SensorNode* node = openSensorNode(argv[1], 115200, 1);
    SnSerial* port = node ? snOpenSerial(node, (uint16_t)atoi(argv[2])) : NULL;
    if (data == NULL || port == NULL || snSerInit(port, atoi(argv[3]), 'N', 1) != 0) {
        fprintf(stderr, "snbench_port: cannot open the port: %s\n", strerror(errno));
        return 1;
    }
    const int status =
        argv[4][0] == 'w' ? timedWrite(port, data, bytes) : timedRead(port, data, bytes);
    snCloseSerial(port);
    closeSensorNode(node);
    free(data);
    return status;
}
