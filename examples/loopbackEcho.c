/* Sends a line through virtual port 0 of a node and prints what comes back.
 * With the port in loopback (snsim's default) the line returns unchanged.
 * Usage: loopbackEcho DEVICE [TEXT] */
#include "snLib.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s DEVICE [TEXT]\n", argv[0]);
        return 2;
    }
    const char* text = argc > 2 ? argv[2] : "hello, node";
    char echo[256];
    if (strlen(text) > sizeof echo) {
        fprintf(stderr, "at most %zu characters\n", sizeof echo);
        return 2;
    }
    const int length = (int)strlen(text);

    initSensorNodeLib();
    SensorNode* node = openSensorNode(argv[1], 115200, 1);
    SnSerial* port = node ? snOpenSerial(node, 0) : NULL;
    if (port == NULL || snSerInit(port, 115200, 'N', 1) != 0) {
        fprintf(stderr, "cannot open port 0 on %s: errno %d %s\n", argv[1], errno, strerror(errno));
        return 1;
    }
    if (snSerWrite(port, text, (uint32_t)length) != length) {
        fprintf(stderr, "the node did not take the whole line\n");
        return 1;
    }
    int got = 0;
    /* Reads never wait, so poll until the line is back or a second passed. */
    for (int tries = 0; tries < 100 && got < length; ++tries) {
        got += snSerRead(port, echo + got, (uint32_t)(length - got));
        if (got < length) usleep(10000);
    }
    printf("%.*s\n", got, echo);
    snCloseSerial(port);
    closeSensorNode(node);
    return got == length ? 0 : 1;
}
