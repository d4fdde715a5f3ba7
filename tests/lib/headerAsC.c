/* The public header must compile as plain C: this file is built by the C
 * compiler and its function is called from the tests. */
#include "snLib.h"

int snlibHeaderCompilesAsC(void) {
    SensorNode node = {0};
    SnSerial* port = &node.serial[2];
    return (int)(sizeof node.portName) + (port->rxRegs[0] == 0 ? 0 : 1);
}
