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

/* Fastest virtual-port speed: the node keeps a speed as its quarter in 16
 * bits, so anything faster would be cut to a wrong speed. */
#define SN_MAX_PORT_SPEED (4L * 0xFFFF + 3)

#endif /* SNLIMITS_H */
