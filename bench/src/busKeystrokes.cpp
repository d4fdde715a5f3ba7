// snterm's keystrokes through snbusd while a bridge on another port of the
// same node streams as fast as the line goes.
#include <atomic>
#include <csignal>
#include <filesystem>
#include <thread>

#include "busDaemonProcess.h"
#include "busRuns.h"
#include "capturedProcess.h"
#include "lineLimit.h"
#include "serialClient.h"
#include "terminalProcess.h"
#include "terminalRuns.h"

namespace snbench {

namespace {

constexpr int kBridgedPort = 1;

snsim::Options streamingNode(int baud) {
    snsim::Options o;
    for (auto& p : o.ports) p.kind = snsim::Attachment::Kind::None;
    o.ports[kBridgedPort].kind = snsim::Attachment::Kind::Pty;
    o.lineTiming = true;
    o.modbusBaud = baud;
    o.rxFifoSize = 1u << 20;
    o.txFifoSize = 1u << 20;
    return o;
}

// Digits only: never taken for one of the keystrokes (letters).
std::vector<uint8_t> streamBytes() {
    std::vector<uint8_t> bytes(4096);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>('0' + i % 10);
    return bytes;
}

// Writes into the bridge and reads the node's line away until `stop`.
void stream(const std::string& link, const std::string& instrument, const std::atomic<bool>& stop) {
    sntest::SerialClient writer, reader;
    if (!writer.open(link) || !reader.open(instrument)) return;
    std::thread drain([&] {
        while (!stop) reader.readExactly(4096, std::chrono::milliseconds(100));
    });
    const std::vector<uint8_t> bytes = streamBytes();
    while (!stop) writer.writeAll(bytes, std::chrono::milliseconds(500));
    drain.join();
}

}  // namespace

BusKeystrokes measureBusKeystrokes(const BusPaths& paths, int baud, int keystrokes) {
    BusKeystrokes k;
    snsim::Emulator sim(streamingNode(baud));
    sntest::BusDaemonProcess daemon;
    if (!sim.start() || !daemon.start(paths.snbusd, sim.devicePath())) return k;
    const std::string link =
        std::filesystem::temp_directory_path() / ("snbench-bridge-" + std::to_string(daemon.pid()));
    sntest::CapturedProcess bridge;
    if (!bridge.start({paths.snctl, "-p", daemon.tcpName(), "bridge", std::to_string(kBridgedPort),
                       "-b", "230400", "--link", link}))
        return k;
    for (int i = 0; i < 500 && !std::filesystem::exists(link); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::atomic<bool> stop{false};
    std::thread streamer(stream, link, sim.instrumentPath(kBridgedPort), std::cref(stop));
    TerminalProcess term;
    std::vector<double> ms;
    if (term.start(paths.snterm, daemon.tcpName(), baud)) {
        std::this_thread::sleep_for(std::chrono::seconds(1));  // the stream well under way
        ms = keystrokeLatenciesMs(sim, term, keystrokes);
        term.stop();
    }
    stop = true;
    streamer.join();
    bridge.signal(SIGTERM);
    bridge.wait(std::chrono::seconds(10));
    k.keystrokes = keystrokes;
    k.seen = static_cast<int>(ms.size());
    k.medianMs = percentile(ms, 0.5);
    k.p99Ms = percentile(ms, 0.99);
    k.maxMs = percentile(ms, 1.0);
    k.goalMs =
        (writeTransactionChars(kBlockBytes) + writeTransactionChars(1)) * charSeconds(baud) * 1e3;
    k.ok = k.seen == keystrokes;
    return k;
}

}  // namespace snbench
