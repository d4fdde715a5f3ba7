/*
 * snLib: the sensor node's register map as plain C-callable functions.
 *
 * A sensor node is a Modbus RTU slave with four power outputs, eight analog
 * inputs, identity and configuration registers and three virtual serial
 * ports.  Open a node with openSensorNode(), then use the functions below.
 *
 * Conventions
 *   - Status functions return 0 on success and -1 on failure with errno set.
 *     A transaction counts as successful only when libmodbus reports a
 *     positive result.  Bad arguments give EINVAL, a full node table ENOMEM;
 *     any other errno is libmodbus's (see modbus_strerror()).
 *   - Handle functions return the handle, or NULL with errno set.
 *   - Transfer functions return the number of bytes moved.
 *   - Handles point into a static table and stay valid for the life of the
 *     process; every function is safe to call from several threads.
 *   - initSensorNodeLib() must be called once before anything else.
 *   - The library prints nothing except, when snSetDebug() is non-zero, its
 *     trace lines on standard output and open-failure notes on stderr.
 */
#ifndef SNLIB_H
#define SNLIB_H

#include <stddef.h> /* NULL, which callers compare handles with */
#include <stdint.h>
#include <sys/time.h>

#include "snLimits.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The shared library exports exactly what this header declares. */
#if defined(__GNUC__)
#pragma GCC visibility push(default)
#endif

/* libmodbus's context type; its typedef modbus_t names the same struct. */
struct _modbus;

struct SensorNode;

/* One virtual port of a node; three are embedded in every SensorNode. */
typedef struct SnSerial {
    struct SensorNode* node; /* owning node; NULL while the port is closed */
    struct _modbus* ctx;     /* node's context copied at open; NULL while closed */
    uint16_t port;           /* 0, 1 or 2 */
    uint16_t refCount;       /* opens not yet matched by closes */
    uint16_t rxAvail;        /* bytes of the last receive block not yet read */
    uint16_t rxIndex;        /* byte position of the next byte in rxRegs (data from 2) */
    uint16_t rxRegs[121];    /* last receive block: count register + data */
    uint16_t txRegs[121];    /* transmit block being sent: count register + data */
} SnSerial;

/* One open node: an entry of the library's table of 16. */
typedef struct SensorNode {
    struct _modbus* ctx; /* RTU or TCP link; NULL while the entry is free */
    uint16_t slaveId;    /* Modbus slave address, 1 to 247 */
    uint16_t refCount;   /* opens not yet matched by closes; 0 = free */
    char portName[256];  /* device name; not terminated when 256 long */
    SnSerial serial[3];  /* virtual ports 0, 1 and 2 */
} SensorNode;

/* ---- Library state and node handles ---------------------------------- */

/* Zero the node table and create the library lock.  Call exactly once. */
void initSensorNodeLib(void);

/* Trace level: non-zero prints trace lines on stdout.  Thread-safe. */
void snSetDebug(int16_t level);

/*
 * Open the node at slave address `slave` (1-247) on serial device `name` at
 * line speed `speed`.  A name "tcp:HOST:PORT" (IPv6 host in brackets, e.g.
 * "tcp:[::1]:1502") reaches the node through the bus daemon over Modbus TCP
 * instead, with the slave address as unit id; `speed` is then not used.  A
 * lost TCP connection fails the call with its errno, and the next call
 * connects again.  Opening the same name and slave again returns the same
 * handle with its count raised.  Succeeds as soon as the device is open (the
 * connection made), whether or not a node answers.  Writes 200 to the
 * device timeout register.
 * errno: EINVAL for no or an empty name, a bad slave address, a "tcp:" name
 * that is not HOST:PORT or, when a new serial link must be opened, a line
 * speed not in SN_LINE_SPEEDS (a reopen never looks at the speed); ENOMEM
 * when 16 nodes are open; else libmodbus's (ECONNREFUSED when nothing
 * listens at a TCP address).
 */
SensorNode* openSensorNode(const char* name, int speed, int slave);

/*
 * Lower the node's open count; the close that reaches 0 frees its Modbus
 * context and closes its virtual ports with it (without traffic), so no
 * port handle can reach the freed context.  0, or -1 with EINVAL for a NULL
 * handle or a node that is not open.
 */
int closeSensorNode(SensorNode* node);

/* libmodbus's protocol debug output for the node's link: non-zero = on. */
void snModbusSetDebug(SensorNode* node, int16_t flag);

/*
 * Link timeouts of an open node; getters accept a NULL destination.
 * A call whose answer does not come within the response timeout (600 ms
 * unless set), or comes garbled, is settled before it returns: a short read
 * of another shape (a probe) goes to the node at once, and since a node
 * answers in order, the call's own answer, when it comes before the
 * probe's, is taken after all.  So a call to a node that answers late
 * still returns the node's answer, and one to a node that does not answer
 * fails within 2.5 response timeouts (3.75 when an answer of the same
 * function was still owed, and a probe went before the request).  Over
 * "tcp:" the response timeout is the wait on the daemon's line, which the
 * daemon is told; the library waits for the daemon's own answer up to
 * 5 times that plus 5 s for the clients queued before it.
 */
void snModbusGetResponseTimeout(SensorNode* node, struct timeval* tv);
void snModbusSetResponseTimeout(SensorNode* node, const struct timeval* tv);
void snModbusGetByteTimeout(SensorNode* node, struct timeval* tv);
void snModbusSetByteTimeout(SensorNode* node, const struct timeval* tv);

/* Device Modbus timeout register.  Set refuses values below 20 (EINVAL). */
int setSensorNodeModbusTimeout(SensorNode* node, uint16_t value);
int getSensorNodeModbusTimeout(SensorNode* node, uint16_t* value);

/* ---- Virtual ports: open, close, line settings ----------------------- */

/*
 * Open virtual port `port` (0-2) of an open node and switch its transmit
 * enable on.  A second open of an open port keeps its buffered bytes.
 * NULL with EINVAL for a NULL or closed node or a port above 2; NULL with
 * libmodbus's errno when the node refuses transmit enable (open undone).
 */
SnSerial* snOpenSerial(SensorNode* node, uint16_t port);

/* Lower the port's count; the close reaching 0 switches transmit enable
 * off.  0, or -1 with EINVAL for a NULL or closed port. */
int snCloseSerial(SnSerial* ser);

/* Line speed (bit/s), parity 'N', 'E' or 'O' (any case; others mean none)
 * and stop bits (2, anything else means 1).  Data bits are always 8. */
int snSerInit(SnSerial* ser, int speed, char parity, int stopBits);

/* Switch the port's transmit enable: non-zero = on. */
int snSerSetTxEnbl(SnSerial* ser, int16_t flag);

/* ---- Virtual ports: data transfer ------------------------------------- */

/*
 * Read up to `count` bytes the port has received into `buf`.  Never waits
 * for data: returns what is buffered plus what the node has now (0 to
 * count).  0 with EINVAL for a NULL or closed port or a NULL buffer.  A
 * call that found nothing and failed nothing leaves errno as it was.
 * A receive block whose answer came only after the call gave up is kept
 * and handed out first by the port's next read, in order: the node handed
 * its bytes out already.
 */
int snSerRead(SnSerial* ser, void* buf, uint32_t count);

/*
 * Send `len` bytes in chunks of up to 240.  Pauses 50 ms whenever the node
 * takes less than a whole chunk and gives up after 11 chunks in a row from
 * which it took nothing.  Returns how many bytes the node accepted: exactly
 * a prefix of `data`.  0 with EINVAL for a NULL or closed port or NULL data.
 * A chunk whose answer did not come before the call gave up may have been
 * taken: the next write settles it first and sends nothing until the node
 * tells (0 with errno while it does not answer), so nothing is sent twice
 * unasked; what the node took of it is told by snSerWriteSettle.
 */
int snSerWrite(SnSerial* ser, const void* data, uint32_t len);

/*
 * Bytes of earlier failed writes that the node took after all: their
 * answers came only after those calls gave up.  A caller that sends again
 * what it was not told was taken (a relay) drops that many from the head
 * of it first.  Settles a chunk still in doubt (a probe, answered): -1
 * with errno while the node does not answer, and nothing must be sent
 * then.  Each byte is told once; 0 when nothing was in doubt, without
 * traffic.  -1 with EINVAL for a NULL or closed port.
 */
int snSerWriteSettle(SnSerial* ser);

/*
 * What the node never told about the port's transfers since its node was
 * opened: receive blocks it may have handed out that never came
 * (their bytes, if any, are lost), and bytes of chunks whose taking stayed
 * unknown (they were sent again, so the far side may have them twice).
 * Both stay 0 unless a node garbles its answers or goes silent for good in
 * the middle of a transfer.  0, or -1 with EINVAL for a NULL handle; either
 * destination may be NULL.
 */
int snSerGetUnknown(SnSerial* ser, uint32_t* rxBlocks, uint32_t* txBytes);

/* Bytes buffered and not yet read; 0 for a NULL handle.  No traffic. */
int snSerRxCount(SnSerial* ser);

/* ---- Virtual ports: line control --------------------------------------
 * All: -1 with EINVAL for a NULL or closed port. */

/* Wait, polling every 100 ms, until the node has sent everything or
 * `budget` hundredths of a second have passed.  Port 0 has no busy bit:
 * its drain reads the busy register once. */
int snSerDrain(SnSerial* ser, uint32_t budget);

/* Drop what the port has received (buffered bytes too) / has to send. */
int snSerIFlush(SnSerial* ser);
int snSerOFlush(SnSerial* ser);

/* Hold a break condition for `ms` milliseconds. */
int snSerBreak(SnSerial* ser, uint16_t ms);

/* Start (non-zero) or end (0) a break condition that lasts until ended:
 * for callers that learn its end only later, as a remote client's break. */
int snSerSetBreak(SnSerial* ser, int16_t on);

/* Read the port's error flags into *flags (EINVAL when flags is NULL). */
int snSerGetErrFlags(SnSerial* ser, uint16_t* flags);

/* Clear the error flags in mask (bits 0-4 only). */
int snSerClearErrFlags(SnSerial* ser, uint16_t mask);

/* ---- Node power, analog and identity ----------------------------------
 * All: -1 with EINVAL for a NULL or closed node or a failed check. */

/* Switch power output 0-3: state non-zero = on. */
int snPower(SensorNode* node, uint16_t output, int16_t state);

/* 1 when output 0-3 is on, 0 when off, -1 on failure. */
int snPowerIsOn(SensorNode* node, uint16_t output);

int snGetPowerVector(SensorNode* node, uint16_t* vector);

/* Analog channel value, channel 0-7. */
int snAnalogChan(SensorNode* node, uint16_t channel, uint16_t* value);

/* `count` channel values from `first`; first + count <= 8. */
int snAnalogChans(SensorNode* node, uint16_t first, uint16_t count, uint16_t* values);

/* Two parameter words per channel, 2 x count words; first + count <= 8. */
int snSetAnalogParms(SensorNode* node, uint16_t first, uint16_t count, const uint16_t* parms);
int snGetAnalogParms(SensorNode* node, uint16_t first, uint16_t count, uint16_t* parms);

int snGetSerialNum(SensorNode* node, uint16_t* serialNum);
int snGetSoftwareRev(SensorNode* node, uint16_t* revision);

/* Board configuration: register 17 in the upper half, 18 in the lower. */
int snGetBoardConfig(SensorNode* node, uint32_t* config);
int snGetHwConfig(SensorNode* node, uint16_t* config);

/* DC always on: non-zero = on. */
int snSetDCAlwaysOn(SensorNode* node, int16_t state);

/* Trigger the node's configuration reset. */
int snResetConfigMode(SensorNode* node);

/* Blink pattern: 0 = off, 1 = pattern 1, anything else = pattern 2. */
int snBlinky(SensorNode* node, int pattern);

#if defined(__GNUC__)
#pragma GCC visibility pop
#endif

#ifdef __cplusplus
}
#endif

#endif /* SNLIB_H */
