#include "busRuns.h"

#include <modbus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "busDaemonProcess.h"
#include "capturedProcess.h"
#include "lineLimit.h"
#include "nodeRig.h"
#include "serialClient.h"
#include "terminalProcess.h"
#include "terminalRuns.h"
#include "transferRuns.h"

namespace snbench {

namespace {

using Clock = std::chrono::steady_clock;

// User plus system CPU seconds of a process, and the scheduler's figure.
std::pair<double, double> cpuOf(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream rest(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0, ns = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    std::ifstream("/proc/" + std::to_string(pid) + "/schedstat") >> ns;
    return {static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK)),
            static_cast<double>(ns) * 1e-9};
}

// One Modbus TCP client of its own reading a whole receive block (121
// registers) again and again until `stop`; the transactions it made.
void readBlocks(uint16_t port, const std::atomic<bool>& stop, long& transactions) {
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    if (ctx == nullptr) return;
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 5, 0);
    if (modbus_connect(ctx) == 0) {
        uint16_t regs[121];
        while (!stop)
            if (modbus_read_registers(ctx, 262, 121, regs) == 121) ++transactions;
    }
    modbus_close(ctx);
    modbus_free(ctx);
}

}  // namespace

BusThroughput measureBusThroughput(const BusPaths& paths, int baud, std::size_t bytes) {
    BusThroughput t;
    NodeRig rig;
    if (!rig.start()) return t;
    rig.setLineSpeed(baud);
    const TransferResult w = timedWrite(rig, bytes, true);
    const TransferResult r = timedRead(rig, bytes);
    sntest::BusDaemonProcess daemon;
    if (!daemon.start(paths.snbusd, rig.device()) || !rig.openNode(daemon.tcpName())) return t;
    rig.clearTransmitSide();
    const TransferResult bw = timedWrite(rig, bytes, true);
    const TransferResult br = timedRead(rig, bytes);
    t.directWrite = w.bytesPerSecond();
    t.directRead = r.bytesPerSecond();
    t.busWrite = bw.bytesPerSecond();
    t.busRead = br.bytesPerSecond();
    t.ok = w.intact && r.intact && bw.intact && br.intact;
    return t;
}

BusSharing measureBusSharing(const BusPaths& paths, int baud, int clients, double seconds) {
    BusSharing s;
    snsim::Emulator sim(timedNodeOptions(baud));
    sntest::BusDaemonProcess daemon;
    if (!sim.start() || !daemon.start(paths.snbusd, sim.devicePath())) return s;
    std::atomic<bool> stop{false};
    std::vector<long> counts(static_cast<std::size_t>(clients), 0);
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (auto& count : counts)
        threads.emplace_back([&, port = daemon.port()] { readBlocks(port, stop, count); });
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (auto& thread : threads) thread.join();
    s.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    long total = 0;
    for (const long count : counts) total += count;
    s.transactionsPerSecond = static_cast<double>(total) / s.seconds;
    s.lineLimit = 1.0 / (readTransactionChars(kBlockBytes) * charSeconds(baud));
    for (const long count : counts)
        s.shares.push_back(total > 0 ? static_cast<double>(count) / static_cast<double>(total) : 0);
    s.ok = total > 0;
    return s;
}

BusIdle measureBusIdle(const BusPaths& paths, double seconds) {
    BusIdle idle;
    snsim::Emulator sim(timedNodeOptions(115200));
    sntest::BusDaemonProcess daemon;
    if (!sim.start() || !daemon.start(paths.snbusd, sim.devicePath())) return idle;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // past start-up
    const auto before = cpuOf(daemon.pid());
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const auto after = cpuOf(daemon.pid());
    idle.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    idle.cpuPercent = 100.0 * (after.first - before.first) / idle.seconds;
    idle.schedPercent = 100.0 * (after.second - before.second) / idle.seconds;
    idle.ok = true;
    return idle;
}

}  // namespace snbench
