#include "nodePoller.h"

#include <snLib.h>

#include "sncommon/deviceGone.h"
#include "snline/hostPort.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace snpoll {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kIdentityPeriod = std::chrono::seconds(2);
constexpr uint32_t kDrainBudget = 200;  // hundredths of a second

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::array<std::unique_ptr<TerminalFeed>, kPorts> makeFeeds(const std::function<void()>& news) {
    std::array<std::unique_ptr<TerminalFeed>, kPorts> feeds;
    const std::function<void()> tell = news ? news : [] {};
    for (auto& feed : feeds) feed = std::make_unique<TerminalFeed>(tell, tell);
    return feeds;
}

bool isPortAction(Action action) {
    switch (action) {
        case Action::Power:
        case Action::PowerToggle:
        case Action::Blink:
        case Action::DcAlwaysOn:
        case Action::ResetConfig:
        case Action::AnalogParms:
            return false;
        case Action::PortLine:
        case Action::PortTxEnable:
        case Action::PortFlushIn:
        case Action::PortFlushOut:
        case Action::PortBreak:
        case Action::PortDrain:
        case Action::PortClearFlags:
            return true;
    }
    return false;
}

}  // namespace

NodePoller::NodePoller(std::string program, sncommon::NodeTarget target, double rate,
                       std::function<void()> changed, std::function<void()> terminalNews)
    : logName_(std::move(program) + ": node " + target.name),
      target_(std::move(target)),
      period_(std::chrono::nanoseconds(static_cast<long long>(1e9 / rate))),
      changed_(std::move(changed)),
      waitsForDevice_(!snline::isTcpLinkName(target_.device.c_str())),
      feeds_(makeFeeds(terminalNews)),
      window_(windowCapacity(rate, kWindowSeconds)),
      thread_([this] { run(); }) {
    for (std::size_t p = 0; p < kPorts; ++p)
        feeds_[p]->onActionDone([this, p](const snrelay::NodeAction& action, bool done) {
            relayActionDone(p, action, done);
        });
}

NodePoller::~NodePoller() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    for (std::size_t p = 0; p < kPorts; ++p)
        if (relays_[p]) stopTerminal(p);
    for (SnSerial* port : ports_)
        if (port != nullptr) snCloseSerial(port);
    if (node_ != nullptr) closeSensorNode(node_);
}

bool NodePoller::submit(const Command& command) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (commands_.size() >= kMostQueuedCommands) return false;
        commands_.push_back(command);
    }
    wake_.notify_all();
    return true;
}

NodeStatus NodePoller::status() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

std::vector<Sample> NodePoller::samplesSince(double after, std::size_t most) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return window_.since(after, most);
}

std::string NodePoller::csv() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return window_.csv();
}

void NodePoller::wake() {
    { std::lock_guard<std::mutex> lock(mutex_); }  // a waiting poller is in wait_until now
    wake_.notify_all();
}

bool NodePoller::call(int result) {
    lastFailure_ = result >= 0 ? 0 : errno;
    std::lock_guard<std::mutex> lock(mutex_);
    ++status_.transactions;
    return result >= 0;
}

void NodePoller::run() {
    auto nextSample = Clock::now();
    auto nextIdentity = Clock::now();
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        if (deviceWentAway()) letGoOfDevice();
        syncTerminals();
        lock.lock();
        if (stopping_) break;
        if (!commands_.empty()) {
            const Command command = commands_.front();
            commands_.pop_front();
            lock.unlock();
            if (ensureOpen())
                execute(command);
            else
                refuse(command);
            changed_();
            lock.lock();
            continue;
        }
        const auto now = Clock::now();
        if (now >= nextSample) {
            lock.unlock();
            if (!ensureOpen()) {
                nextSample = now + sncommon::kDeviceRetryEvery;
            } else {
                sample();
                if (Clock::now() >= nextIdentity) {
                    readIdentity();
                    readPortFlags();
                    nextIdentity = Clock::now() + kIdentityPeriod;
                }
                // On the rate's grid, so the readings do not drift with the
                // time each round takes; a late round does not catch up.
                nextSample += period_;
                if (nextSample < Clock::now()) nextSample = Clock::now() + period_;
            }
            changed_();
            lock.lock();
            continue;
        }
        wake_.wait_until(lock, nextSample);
    }
}

void NodePoller::sample() {
    Sample reading;
    std::array<bool, kOutputs> outputs{};
    const bool read = call(snAnalogChans(node_, 0, kChannels, reading.values.data()));
    bool outputsRead = read;
    for (int o = 0; o < kOutputs && outputsRead; ++o) {
        const int on = snPowerIsOn(node_, static_cast<uint16_t>(o));
        outputsRead = call(on);
        outputs[static_cast<std::size_t>(o)] = on == 1;
    }
    reading.time = wallSeconds();
    std::lock_guard<std::mutex> lock(mutex_);
    status_.up = read;
    if (!read) return;
    status_.lastAnswer = reading.time;
    status_.analog = reading.values;
    window_.add(reading);
    if (outputsRead) {
        status_.outputsKnown = true;
        status_.outputs = outputs;
    }
}

void NodePoller::readIdentity() {
    NodeStatus read;
    bool ok = call(snGetSerialNum(node_, &read.serial));
    ok = ok && call(snGetSoftwareRev(node_, &read.revision));
    ok = ok && call(snGetBoardConfig(node_, &read.board));
    ok = ok && call(snGetHwConfig(node_, &read.hwConfig));
    ok = ok && call(getSensorNodeModbusTimeout(node_, &read.deviceTimeout));
    ok = ok && call(snGetAnalogParms(node_, 0, kChannels, read.parms.data()));
    // Shown as the number it is, as often as the identity.
    const bool vectorRead = ok && call(snGetPowerVector(node_, &read.powerVector));
    if (!ok) return;
    std::lock_guard<std::mutex> lock(mutex_);
    status_.powerKnown = vectorRead;
    status_.powerVector = read.powerVector;
    status_.identityKnown = true;
    status_.serial = read.serial;
    status_.revision = read.revision;
    status_.board = read.board;
    status_.hwConfig = read.hwConfig;
    status_.deviceTimeout = read.deviceTimeout;
    status_.parms = read.parms;
}

void NodePoller::readPortFlags() {
    for (int p = 0; p < kPorts; ++p) {
        // A terminal's handle will do: the port is one, however often opened.
        SnSerial* handle = ports_[static_cast<std::size_t>(p)];
        if (handle == nullptr) handle = terminalPorts_[static_cast<std::size_t>(p)];
        if (handle == nullptr) continue;
        uint16_t flags = 0;
        const bool ok = call(snSerGetErrFlags(handle, &flags));
        std::lock_guard<std::mutex> lock(mutex_);
        PortStatus& port = status_.ports[static_cast<std::size_t>(p)];
        port.flagsKnown = ok;
        if (ok) port.flags = flags;
    }
}

// A command with no device to go to fails aloud, never in silence.
void NodePoller::refuse(const Command& c) {
    const std::string outcome = "failed (" + target_.device + " is not open)";
    if (commandDone_) commandDone_(c, false, outcome);
    std::lock_guard<std::mutex> lock(mutex_);
    status_.lastAction = describe(c) + ": " + outcome;
    status_.lastActionPort = isPortAction(c.action) ? c.index : -1;
}

void NodePoller::execute(const Command& c) {
    bool done = false;
    switch (c.action) {
        case Action::Power:
            done = call(snPower(node_, static_cast<uint16_t>(c.index), c.value != 0 ? 1 : 0));
            break;
        case Action::PowerToggle:
            done = togglePower(static_cast<uint16_t>(c.index));
            break;
        case Action::Blink:
            done = call(snBlinky(node_, static_cast<int>(c.value)));
            break;
        case Action::DcAlwaysOn:
            done = call(snSetDCAlwaysOn(node_, c.value != 0 ? 1 : 0));
            break;
        case Action::ResetConfig:
            done = call(snResetConfigMode(node_));
            break;
        case Action::AnalogParms:
            done = call(snSetAnalogParms(node_, static_cast<uint16_t>(c.index), 1, c.words));
            break;
        default:
            done = executePort(c);
            break;
    }
    const std::string outcome =
        done ? "done" : std::string("failed (") + std::strerror(errno) + ")";
    // Read back at once, so users see the node's state, not what they asked.
    sample();
    if (c.action == Action::AnalogParms) readIdentity();
    if (commandDone_) commandDone_(c, done, outcome);
    std::lock_guard<std::mutex> lock(mutex_);
    if (c.action == Action::PortLine && done && relays_[static_cast<std::size_t>(c.index)]) {
        // Its relay tells when it is done, perhaps already has.
        if (pendingLine_[static_cast<std::size_t>(c.index)]) {
            status_.lastAction = describe(c) + ": queued after the bytes typed before it";
            status_.lastActionPort = c.index;
        }
        return;
    }
    status_.lastAction = describe(c) + ": " + outcome;
    // A port's terminal shows its own port's outcomes only, never the node's.
    status_.lastActionPort = isPortAction(c.action) ? c.index : -1;
}

// From the coil as the node has it now, not as a user last saw it.
bool NodePoller::togglePower(uint16_t output) {
    const int on = snPowerIsOn(node_, output);
    if (!call(on)) return false;
    return call(snPower(node_, output, on == 1 ? 0 : 1));
}

bool NodePoller::executePort(const Command& c) {
    const auto p = static_cast<std::size_t>(c.index);
    if (ports_[p] == nullptr) {
        ports_[p] = snOpenSerial(node_, static_cast<uint16_t>(c.index));
        if (ports_[p] == nullptr || !restoreLine(p, ports_[p])) {
            if (ports_[p] != nullptr) snCloseSerial(ports_[p]);
            ports_[p] = nullptr;
            return false;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        status_.ports[p].open = true;
        status_.ports[p].txEnabled = true;
    }
    SnSerial* port = ports_[p];
    bool done = false;
    switch (c.action) {
        case Action::PortLine:
            done = setLine(p, port, snrelay::PortLine{c.value, c.parity, c.stopBits});
            break;
        case Action::PortTxEnable:
            done = call(snSerSetTxEnbl(port, c.value != 0 ? 1 : 0));
            if (done) {
                std::lock_guard<std::mutex> lock(mutex_);
                status_.ports[p].txEnabled = c.value != 0;
            }
            break;
        case Action::PortFlushIn:
            done = call(snSerIFlush(port));
            break;
        case Action::PortFlushOut:
            done = call(snSerOFlush(port));
            break;
        case Action::PortBreak:
            done = call(snSerBreak(port, static_cast<uint16_t>(c.value)));
            break;
        case Action::PortDrain:
            done = call(snSerDrain(port, kDrainBudget));
            break;
        case Action::PortClearFlags:
            done = call(snSerClearErrFlags(port, static_cast<uint16_t>(c.value)));
            break;
        default:
            break;
    }
    readPortFlags();
    return done;
}

}  // namespace snpoll
