/*
 * snLimits.h: the limits of the sensor node that callers of snLib need, so
 * that tools size their buffers and check their arguments from one place.
 * C and C++; included by snLib.h.
 */
#ifndef SNLIMITS_H
#define SNLIMITS_H

/* Data bytes one transmit or receive block carries (120 registers). */
#define SN_BLOCK_BYTES 240

/* Virtual ports 0 to SN_PORTS - 1. */
#define SN_PORTS 3

/* Analog channels 0 to SN_ANALOG_CHANNELS - 1. */
#define SN_ANALOG_CHANNELS 8

/* Power outputs 0 to SN_POWER_OUTPUTS - 1. */
#define SN_POWER_OUTPUTS 4

/* Smallest value setSensorNodeModbusTimeout() accepts. */
#define SN_MIN_DEVICE_TIMEOUT 20

/* Slave addresses a node may have. */
#define SN_MIN_SLAVE 1
#define SN_MAX_SLAVE 247

/* Nodes open at once (distinct device name and slave address). */
#define SN_MAX_NODES 16

/* Virtual-port speeds: the node keeps a speed as its quarter in 16 bits, so
 * anything slower would stop its line and anything faster would be cut to a
 * wrong speed. */
#define SN_MIN_PORT_SPEED 4L
#define SN_MAX_PORT_SPEED (4L * 0xFFFF + 3)

/* The Modbus line speeds openSensorNode() accepts: those the serial driver
 * can set (libmodbus would silently run any other at 9600).  For an array:
 * static const int speeds[] = {SN_LINE_SPEEDS}; */
#define SN_LINE_SPEEDS                                                                          \
    110, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 500000, \
        576000, 921600, 1000000, 1152000, 1500000, 2000000, 2500000, 3000000, 3500000, 4000000

#endif /* SNLIMITS_H */
