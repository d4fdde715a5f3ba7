// In-process API of the sensor-node emulator: a Modbus RTU slave serving a
// pseudo-terminal, so the library reaches it by device name exactly as it
// would reach real hardware.  Tests drive and inspect it through this class;
// the snsim executable is a thin command line around it.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace snsim {

// What a virtual port's serial line is connected to, on the instrument side.
struct Attachment {
    // None: nothing attached; the test is the instrument (feedPort and
    // takePortOutput are its two ends).
    enum class Kind { Loopback, Pty, Exec, None };
    Kind kind = Kind::Loopback;
    std::string command;   // Exec: run through /bin/sh -c on a pty of its own
    std::string linkPath;  // Pty/Exec: optional symlink to the instrument pty
};

struct Options {
    std::vector<int> slaves{1};         // addresses answered on the line
    std::array<Attachment, 3> ports{};  // per virtual port
    int modbusBaud = 115200;            // used by line timing
    bool lineTiming = false;            // answer after real frame times
    std::string linkPath;               // optional symlink to the device
    std::size_t txFifoSize = 512;       // node's transmit FIFO per port
    std::size_t rxFifoSize = 512;       // node's receive FIFO per port
    // Register 19 reads this whatever the power coils say, as on a node that
    // gives the power vector a meaning of its own; unset: coils 0..3 as bits.
    std::optional<uint16_t> powerVector;
};

// One request the emulator saw on the line, answered or not.
struct Transaction {
    int slave = 0;
    int function = 0;              // Modbus function code
    int address = 0;               // first address (write address for 23)
    int quantity = 0;              // registers/coils (written, for 23)
    std::vector<uint16_t> values;  // values written (coils as 0/1)
    int readAddress = -1;          // function 23 only: read part
    int readQuantity = 0;
    bool answered = false;  // a reply (normal or exception) went out
    std::chrono::steady_clock::time_point when{};
};

// Node model choices, fixed here for tests and tools:
//  - register 254 busy bits: bit 4p-1 modulo 16, so port 0 = bit 15 (0x8000),
//    port 1 = bit 3, port 2 = bit 7, each set while its transmit FIFO holds bytes
//    (setReg(254, v) ORs v in permanently, 0 ends that);
//  - error flags B+259: bit 1 (0x0002) = receive overrun (FIFO full, bytes lost);
//  - receive block B+262: count register = bytes handed out by this read, each
//    byte handed out once; transmit status B+386 = accepted count, high byte 0;
//  - coil 12 resets registers 21, 47..62, every B+255/B+256 and coils 9..11 to
//    defaults and reads back OFF; a line speed of 0 stops the transmitter; a
//    break (B+388 = 1) holds the transmitter;
//  - addresses outside the map (registers 0..14, 22..30, 39..46, 63..253, the
//    gaps of the port blocks, coils 7, 8 and above 12) and writes to read-only
//    registers are answered with exception 2 (illegal data address);
//  - setReg on 31..38 pins that analog channel to the value (they otherwise
//    vary with time); setReg(19, v) sets power coils 0..3 from v (and
//    register 19 reads them back unless Options::powerVector fixes it).
//  - NoAnswer and Exception leave the node state untouched; the other faults
//    apply the request and spoil only the answer.

// Faults the node can be told to show, until cleared with Fault::None.
enum class Fault {
    None,
    NoAnswer,         // requests are received and logged but never answered
    Exception,        // every request answered with an exception (exceptionCode)
    Delay,            // every answer sent only after delay, as a busy node does:
                      // requests that come meanwhile are answered after it, in order
    WrongSlave,       // answer carries another slave address
    BadCrc,           // answer with a corrupted CRC
    ShortFrame,       // answer cut short
    AbsurdCounts,     // receive count 65535 whenever bytes are handed out, and
                      // transmit status 255 whatever the node really took
    TornAnswer,       // answer sent in two halves 75 ms apart: longer than a
                      // master's byte timeout, so the second half comes late
    OtherSlaveFirst,  // the same answer from another slave address comes
                      // first, then the answer itself
};

// Faults drawn at random for each request the node answers (broadcasts and
// requests for other slaves are not), while no fault is set with setFault.
// Probabilities from 0 to 1; a late answer comes `lateBy` after it is due
// (or, when `alsoLateBy` is set, half of them that late instead), and the
// node, busy meanwhile, answers what came in the meantime after it.
// With `portsOnly`, only the virtual ports' data transactions are drawn for
// (a transmit block written by function 23, a receive block read by
// function 3); every other request is answered on time and draws nothing,
// so the same seed gives the same faults to the same port traffic.
struct RandomFaults {
    double noAnswer = 0;
    double late = 0;
    double torn = 0;
    double exception = 0;  // answered with exception 4
    std::chrono::milliseconds lateBy{1000};
    std::chrono::milliseconds alsoLateBy{0};
    unsigned seed = 1;
    bool portsOnly = false;
};

// What the random faults did so far.
struct InjectedFaults {
    uint64_t requests = 0;  // requests drawn for
    uint64_t noAnswer = 0, late = 0, torn = 0, exception = 0;
};

class Emulator {
public:
    explicit Emulator(Options options = {});
    ~Emulator();  // stops if running
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    // Opens the pty pair and starts serving.  False (with a message on
    // stderr) when the pty or libmodbus cannot be set up.
    bool start();
    // Stops serving; no thread is left blocked.  Idempotent.
    void stop();
    // Closes the device as an unplugged adapter would: clients get EIO.
    void unplug();

    // Slave side of the pty, for openSensorNode() ("/dev/pts/N").
    std::string devicePath() const;

    // Register map, per slave (the node's holding registers and coils).
    uint16_t reg(int address, int slave = 1) const;
    void setReg(int address, uint16_t value, int slave = 1);
    bool coil(int address, int slave = 1) const;
    void setCoil(int address, bool on, int slave = 1);

    // Every request seen, oldest first.
    std::vector<Transaction> log() const;
    void clearLog();
    // Blocks until the log holds at least n entries or the timeout passes.
    bool waitForLog(std::size_t n, std::chrono::milliseconds timeout) const;

    void setFault(Fault fault, std::chrono::milliseconds delay = {}, int exceptionCode = 4);
    void setRandomFaults(const RandomFaults& faults);
    InjectedFaults injectedFaults() const;

    // Instrument side of virtual port `port` of `slave`.
    // Bytes the instrument sends to the node (enter its receive FIFO).
    void feedPort(int port, const std::vector<uint8_t>& bytes, int slave = 1);
    // Bytes the node has put on the port's line since the last call, taken
    // out.  A tap of the line: it records them whatever the attachment
    // (loopback, pty and exec still get them), up to 4 MiB kept.
    std::vector<uint8_t> takePortOutput(int port, int slave = 1);
    // Most bytes the node accepts from one transmit block; -1 = no limit
    // beyond the free space of its transmit FIFO.
    void setAcceptLimit(int port, int limit, int slave = 1);
    // Node-side count of received bytes not yet fetched by the master.
    std::size_t rxPending(int port, int slave = 1) const;
    // Node-side count of bytes waiting in the transmit FIFO.
    std::size_t txPending(int port, int slave = 1) const;
    // Everything the node took from the master and still has: the line's
    // tap (taken out, as takePortOutput) then its transmit FIFO, in one
    // look, so no byte is on its way from one to the other meanwhile.
    std::vector<uint8_t> takeAcceptedBytes(int port, int slave = 1);
    // True while a break condition is held on the port.
    bool breakActive(int port, int slave = 1) const;

    void setLineTiming(bool on, int modbusBaud);

    // Added: path of the instrument pty of a Pty or Exec port ("/dev/pts/N"),
    // empty for other attachments.  Such attachments exist for the first
    // slave of Options::slaves only; the same port of other slaves is None.
    std::string instrumentPath(int port, int slave = 1) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace snsim
