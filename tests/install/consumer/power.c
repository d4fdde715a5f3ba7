/* A program of a library user: switch one power output of a node on. */
#include <snLib.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s DEVICE OUTPUT\n", argv[0]);
        return 2;
    }
    const unsigned long output = strtoul(argv[2], NULL, 10);
    if (output >= SN_POWER_OUTPUTS) {
        fprintf(stderr, "output %lu: the node has %d\n", output, SN_POWER_OUTPUTS);
        return 2;
    }
    initSensorNodeLib();
    SensorNode* node = openSensorNode(argv[1], 115200, 1);
    if (node == NULL || snPower(node, (uint16_t)output, 1) != 0) {
        fprintf(stderr, "power %u: errno %d\n", (unsigned)output, errno);
        return 1;
    }
    printf("output %u on: %d\n", (unsigned)output, snPowerIsOn(node, (uint16_t)output));
    return closeSensorNode(node) == 0 ? 0 : 1;
}
