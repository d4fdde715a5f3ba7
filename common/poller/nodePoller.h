// One node, read by one thread of its own however many users look at it
// (a program's pages, a broker's subscribers): the analog channels and
// outputs at the poll rate, the identity and settings every couple of
// seconds, and the users' commands in between.  A port with a terminal
// open on it has a relay of its own beside it.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "nodeCommand.h"
#include "relay.h"
#include "sampleWindow.h"
#include "sncommon/nodeTarget.h"
#include "terminalFeed.h"

struct SensorNode;
struct SnSerial;

namespace snpoll {

inline constexpr int kPorts = 3;
inline constexpr int kOutputs = 4;
inline constexpr std::size_t kMostQueuedCommands = 16;
inline constexpr double kWindowSeconds = 600;

struct PortStatus {
    bool open = false;        // opened by a command of a page (transmit enable then on)
    bool flagsKnown = false;  // read while the port is open for a command or a terminal
    uint16_t flags = 0;
    bool txEnabled = false;
    bool terminal = false;   // a terminal page's relay runs on it
    bool lineKnown = false;  // set by a user since the program started
    snrelay::PortLine line{};
};

// What the pages show of a node, as last read back from it.
struct NodeStatus {
    bool up = false;
    double lastAnswer = 0;                     // seconds since the epoch; 0: never
    std::array<uint16_t, kChannels> analog{};  // the last reading, when lastAnswer is set
    bool identityKnown = false;
    uint16_t serial = 0;
    uint16_t revision = 0;
    uint32_t board = 0;
    uint16_t hwConfig = 0;
    uint16_t deviceTimeout = 0;
    // An output's state is its coil; the power vector is only a register,
    // whose meaning is the node's own.
    bool outputsKnown = false;
    std::array<bool, kOutputs> outputs{};
    bool powerKnown = false;
    uint16_t powerVector = 0;
    std::array<uint16_t, 2 * kChannels> parms{};
    std::array<PortStatus, kPorts> ports{};
    std::string lastAction;     // "power 3 on: done", "blink 1: failed (...)"
    int lastActionPort = -1;    // the port it was on; -1: the node itself
    uint64_t transactions = 0;  // Modbus calls made, for the benchmark
};

class NodePoller {
public:
    // `changed` runs on the poller's thread after each round that read or
    // did something; `terminalNews` when a terminal's relay gave bytes or
    // took keystrokes.  Both must be quick.
    // `program` names it in the log.
    NodePoller(std::string program, sncommon::NodeTarget target, double rate,
               std::function<void()> changed, std::function<void()> terminalNews = {});
    ~NodePoller();
    NodePoller(const NodePoller&) = delete;
    NodePoller& operator=(const NodePoller&) = delete;

    const sncommon::NodeTarget& target() const { return target_; }
    // False when too many commands wait already.
    bool submit(const Command& command);
    // Runs on the poller's thread once a command was carried out and the
    // node read back, with "done" or the failure in words.  Set before the
    // first submit().
    using CommandDone = std::function<void(const Command&, bool done, const std::string& outcome)>;
    void onCommandDone(CommandDone done) { commandDone_ = std::move(done); }
    NodeStatus status() const;
    std::vector<Sample> samplesSince(double after, std::size_t most) const;
    std::string csv() const;

    // The shared feed of port P's terminal pages.  After a page attaches or
    // detaches, wake() starts or stops the port's relay.
    TerminalFeed& terminal(int port) { return *feeds_[static_cast<std::size_t>(port)]; }
    void wake();

private:
    void run();
    // The node's device (nodeDevice.cpp).
    bool ensureOpen();
    bool deviceWentAway() const;
    void letGoOfDevice();
    bool restoreLine(std::size_t port, SnSerial* handle);
    void sample();
    void readIdentity();
    void readPortFlags();
    void execute(const Command& command);
    void refuse(const Command& command);  // with no device open
    bool executePort(const Command& command);
    bool togglePower(uint16_t output);
    bool call(int result);  // counts a transaction, true when it succeeded
    void syncTerminals();
    void startTerminal(std::size_t port);
    void stopTerminal(std::size_t port, const char* why = "its terminal closed first");
    snrelay::PortLine lineOf(std::size_t port) const;
    bool setLine(std::size_t port, SnSerial* handle, const snrelay::PortLine& line);
    void lineSet(std::size_t port, const snrelay::PortLine& line);
    void relayActionDone(std::size_t port, const snrelay::NodeAction& action, bool done);

    const std::string logName_;  // "snweb: node NAME"
    const sncommon::NodeTarget target_;
    const std::chrono::nanoseconds period_;
    const std::function<void()> changed_;
    CommandDone commandDone_;
    // A serial device that went away is let go of and waited for; over tcp:
    // the library connects to the daemon again by itself.
    const bool waitsForDevice_;
    bool deviceGone_ = false;
    std::chrono::steady_clock::time_point nextOpen_{};
    // The errno of the last call, 0 when it succeeded.
    int lastFailure_ = 0;
    // A line a user set, to be set again on a device that came back.
    std::array<bool, kPorts> lineToRestore_{};
    SensorNode* node_ = nullptr;
    std::array<SnSerial*, kPorts> ports_{};
    std::array<std::unique_ptr<TerminalFeed>, kPorts> feeds_;
    std::array<SnSerial*, kPorts> terminalPorts_{};
    std::array<std::unique_ptr<snrelay::Relay>, kPorts> relays_;
    std::array<uint64_t, kPorts> relayGeneration_{};  // of the feed's pages each relay serves

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::deque<Command> commands_;
    NodeStatus status_;
    // A line change a terminal's relay has yet to do.
    std::array<std::optional<snrelay::PortLine>, kPorts> pendingLine_;
    SampleWindow window_;
    std::thread thread_;  // last: starts once everything above is ready
};

}  // namespace snpoll
