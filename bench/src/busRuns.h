// Figures of snbusd between clients and an emulated node with line timing.
#pragma once

#include <string>
#include <vector>

namespace snbench {

struct BusPaths {
    std::string snbusd, snterm, snctl;
};

struct BusThroughput {
    bool ok = false;
    double directWrite = 0, busWrite = 0;  // B/s of snSerWrite
    double directRead = 0, busRead = 0;    // B/s of snSerRead in block reads
};

struct BusSharing {
    bool ok = false;
    double seconds = 0;
    double transactionsPerSecond = 0;  // all clients together
    double lineLimit = 0;              // what the line carries, the same unit
    std::vector<double> shares;        // each client's part of the whole
};

struct BusKeystrokes {
    bool ok = false;
    int keystrokes = 0, seen = 0;
    double medianMs = 0, p99Ms = 0, maxMs = 0;
    double goalMs = 0;  // a block's transaction plus the keystroke's own
};

struct BusDeadUnit {
    bool ok = false;
    long blocks = 0, deadTurns = 0;
    double longestWaitMs = 0;      // the streamer's, between blocks
    double timeoutAndProbeMs = 0;  // what one request to the absent unit holds the line
};

struct BusIdle {
    bool ok = false;
    double seconds = 0, cpuPercent = 0, schedPercent = 0;
};

// One client's virtual-port transfers, direct and through the daemon.
BusThroughput measureBusThroughput(const BusPaths& paths, int baud, std::size_t bytes);
// Eight clients reading full blocks as fast as they can, for `seconds`.
BusSharing measureBusSharing(const BusPaths& paths, int baud, int clients, double seconds);
// snterm's keystrokes through the daemon while a bridge streams beside it.
BusKeystrokes measureBusKeystrokes(const BusPaths& paths, int baud, int keystrokes);
// A client reading blocks beside one looping on an absent unit, for `seconds`.
BusDeadUnit measureBusDeadUnit(const BusPaths& paths, int baud, double seconds);
// The daemon's CPU while nobody asks anything.
BusIdle measureBusIdle(const BusPaths& paths, double seconds);

}  // namespace snbench
