// Public API of the emulator: lifecycle, register access, log, faults and
// the instrument ends of the virtual ports.
#include "emulatorImpl.h"
#include "sncommon/fdTransfer.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <system_error>

namespace snsim {

using detail::NodeMap;

namespace {

void closePipe(int p[2]) {
    for (int i = 0; i < 2; ++i)
        if (p[i] >= 0) ::close(p[i]);
    p[0] = p[1] = -1;
}

bool validOptions(const Options& o, std::string& err) {
    if (o.slaves.empty()) {
        err = "no slave address";
        return false;
    }
    for (std::size_t i = 0; i < o.slaves.size(); ++i) {
        if (o.slaves[i] < 1 || o.slaves[i] > 247) {
            err = "slave address " + std::to_string(o.slaves[i]) + " outside 1..247";
            return false;
        }
        if (std::count(o.slaves.begin(), o.slaves.end(), o.slaves[i]) > 1) {
            err = "slave address " + std::to_string(o.slaves[i]) + " given twice";
            return false;
        }
    }
    if (o.modbusBaud <= 0) {
        err = "Modbus speed must be positive";
        return false;
    }
    if (o.txFifoSize == 0 || o.rxFifoSize == 0) {
        err = "FIFO sizes must be positive";
        return false;
    }
    return true;
}

}  // namespace

Emulator::Impl::Impl(Options o) : opt(std::move(o)) {
    lineTiming = opt.lineTiming;
    modbusBaud = opt.modbusBaud;
    const auto now = Clock::now();
    for (int s : opt.slaves)
        if (s >= 1 && s <= 247 && !node(s)) {
            nodes.push_back(std::make_unique<NodeMap>(s, opt.txFifoSize, opt.rxFifoSize, now));
            if (opt.powerVector) nodes.back()->fixPowerVector(*opt.powerVector);
        }
    // Sinks: loopback everywhere it is asked for; a pty or command only on
    // the first slave's port (the others' same port is left unconnected).
    for (std::size_t i = 0; i < nodes.size(); ++i)
        for (int p = 0; p < detail::kPorts; ++p) {
            using K = Attachment::Kind;
            using S = detail::PortModel::Sink;
            const K k = opt.ports[static_cast<std::size_t>(p)].kind;
            S sink = S::None;
            if (k == K::Loopback)
                sink = S::Loopback;
            else if ((k == K::Pty || k == K::Exec) && i == 0)
                sink = S::External;
            nodes[i]->port(p).setSink(sink);
        }
}

NodeMap* Emulator::Impl::node(int slave) {
    for (auto& n : nodes)
        if (n->slave() == slave) return n.get();
    return nullptr;
}

const NodeMap* Emulator::Impl::node(int slave) const {
    for (auto& n : nodes)
        if (n->slave() == slave) return n.get();
    return nullptr;
}

void Emulator::Impl::kickPump() {
    if (pumpWake[1] >= 0) {
        const char c = 1;
        [[maybe_unused]] ssize_t n = ::write(pumpWake[1], &c, 1);
    }
}

void Emulator::Impl::stopServing() {
    if (!serving) return;
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(serverStop[1], &c, 1);
    if (server.joinable()) server.join();
    serving = false;
    dev.reset();  // clients now read EIO, as from an unplugged adapter
}

void Emulator::Impl::releaseAll() {
    for (auto& a : atts) a.reset();
    dev.reset();
    if (ctx) modbus_free(ctx);  // never modbus_close: the socket is ours
    ctx = nullptr;
    closePipe(replyPair);
    closePipe(serverStop);
    closePipe(pumpWake);
}

// A server context that only builds replies: it writes them into a socket
// pair, from which the serving loop forwards them to the line.
std::string Emulator::Impl::makeReplyContext() {
    ctx = modbus_new_rtu(dev->slavePath().c_str(), 115200, 'N', 8, 1);
    if (!ctx) return std::string("modbus_new_rtu: ") + modbus_strerror(errno);
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, replyPair) != 0)
        return "socketpair failed";
    sncommon::setNonBlockingCloseOnExec(replyPair[1]);
    modbus_set_socket(ctx, replyPair[0]);
    // Only used by libmodbus's pause before answering a malformed request.
    modbus_set_response_timeout(ctx, 0, 1000);
    if (pipe2(serverStop, O_CLOEXEC) != 0 || pipe2(pumpWake, O_CLOEXEC | O_NONBLOCK) != 0)
        return "pipe failed";
    return {};
}

// The instrument ends of Pty and Exec ports; whether there is any.
bool Emulator::Impl::openAttachments() {
    bool external = false;
    for (int p = 0; p < detail::kPorts; ++p) {
        const Attachment& a = opt.ports[static_cast<std::size_t>(p)];
        if (a.kind != Attachment::Kind::Pty && a.kind != Attachment::Kind::Exec) continue;
        auto io = std::make_unique<detail::AttachmentIo>();
        try {
            io->open(a);
        } catch (const std::system_error& error) {
            throw std::runtime_error("port " + std::to_string(p) + ": " + error.what());
        }
        atts[static_cast<std::size_t>(p)] = std::move(io);
        external = true;
    }
    return external;
}

Emulator::Emulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Emulator::~Emulator() { stop(); }

bool Emulator::start() {
    Impl& d = *impl_;
    std::lock_guard life(d.lifeMu);
    if (d.running) return true;
    std::string err;
    bool external = false;
    try {
        if (!validOptions(d.opt, err)) throw std::runtime_error(err);
        d.dev = std::make_unique<sncommon::PseudoTerminal>(
            sncommon::PseudoTerminalOptions{d.opt.linkPath});
        {
            std::lock_guard g(d.mu);
            d.devPath = d.dev->slavePath();
        }
        err = d.makeReplyContext();
        if (!err.empty()) throw std::runtime_error(err);
        external = d.openAttachments();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "snsim: %s\n", error.what());
        d.releaseAll();
        return false;
    }
    d.pumpQuit = false;
    d.serving = true;
    d.running = true;
    d.server = std::thread([&d] { d.serverLoop(); });
    if (external) d.pump = std::thread([&d] { d.pumpLoop(); });
    return true;
}

void Emulator::stop() {
    Impl& d = *impl_;
    std::lock_guard life(d.lifeMu);
    if (!d.running) return;
    d.stopServing();
    d.pumpQuit = true;
    d.kickPump();
    if (d.pump.joinable()) d.pump.join();
    d.releaseAll();
    d.running = false;
}

void Emulator::unplug() {
    Impl& d = *impl_;
    std::lock_guard life(d.lifeMu);
    if (d.running) d.stopServing();
}

std::string Emulator::devicePath() const {
    std::lock_guard g(impl_->mu);
    return impl_->devPath;
}

uint16_t Emulator::reg(int address, int slave) const {
    std::lock_guard g(impl_->mu);
    NodeMap* n = impl_->node(slave);
    return n ? n->reg(address, Clock::now()) : 0;
}

void Emulator::setReg(int address, uint16_t value, int slave) {
    std::lock_guard g(impl_->mu);
    if (NodeMap* n = impl_->node(slave)) n->setReg(address, value, Clock::now());
    impl_->kickPump();
}

bool Emulator::coil(int address, int slave) const {
    std::lock_guard g(impl_->mu);
    const NodeMap* n = impl_->node(slave);
    return n && n->coil(address);
}

void Emulator::setCoil(int address, bool on, int slave) {
    std::lock_guard g(impl_->mu);
    if (NodeMap* n = impl_->node(slave)) n->setCoil(address, on, Clock::now());
}

std::vector<Transaction> Emulator::log() const {
    std::lock_guard g(impl_->mu);
    return {impl_->log.begin(), impl_->log.end()};
}

void Emulator::clearLog() {
    std::lock_guard g(impl_->mu);
    impl_->logBase += impl_->log.size();
    impl_->log.clear();
}

bool Emulator::waitForLog(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock g(impl_->mu);
    return impl_->logCv.wait_for(g, timeout, [&] { return impl_->log.size() >= n; });
}

void Emulator::setRandomFaults(const RandomFaults& faults) {
    std::lock_guard g(impl_->mu);
    impl_->dice.configure(faults);
}

InjectedFaults Emulator::injectedFaults() const {
    std::lock_guard g(impl_->mu);
    return impl_->dice.injected();
}

void Emulator::setFault(Fault fault, std::chrono::milliseconds delay, int exceptionCode) {
    std::lock_guard g(impl_->mu);
    impl_->fault = fault;
    impl_->faultDelay = delay;
    impl_->exceptionCode = exceptionCode;
}

void Emulator::feedPort(int port, const std::vector<uint8_t>& bytes, int slave) {
    if (port < 0 || port >= detail::kPorts) return;
    std::lock_guard g(impl_->mu);
    if (NodeMap* n = impl_->node(slave)) n->port(port).pushRx(bytes.data(), bytes.size());
}

std::vector<uint8_t> Emulator::takePortOutput(int port, int slave) {
    if (port < 0 || port >= detail::kPorts) return {};
    std::lock_guard g(impl_->mu);
    NodeMap* n = impl_->node(slave);
    if (!n) return {};
    n->port(port).advance(Clock::now());
    return n->port(port).takeTap();
}

void Emulator::setAcceptLimit(int port, int limit, int slave) {
    if (port < 0 || port >= detail::kPorts) return;
    std::lock_guard g(impl_->mu);
    if (NodeMap* n = impl_->node(slave)) n->port(port).setAcceptLimit(limit);
}

std::size_t Emulator::rxPending(int port, int slave) const {
    if (port < 0 || port >= detail::kPorts) return 0;
    std::lock_guard g(impl_->mu);
    NodeMap* n = impl_->node(slave);
    if (!n) return 0;
    n->advance(Clock::now());  // loopback bytes arrive as they leave
    return n->port(port).rxPending();
}

std::vector<uint8_t> Emulator::takeAcceptedBytes(int port, int slave) {
    if (port < 0 || port >= detail::kPorts) return {};
    std::lock_guard g(impl_->mu);
    NodeMap* n = impl_->node(slave);
    if (!n) return {};
    n->port(port).advance(Clock::now());
    std::vector<uint8_t> bytes = n->port(port).takeTap();
    const auto& queued = n->port(port).txQueued();
    bytes.insert(bytes.end(), queued.begin(), queued.end());
    return bytes;
}

std::size_t Emulator::txPending(int port, int slave) const {
    if (port < 0 || port >= detail::kPorts) return 0;
    std::lock_guard g(impl_->mu);
    NodeMap* n = impl_->node(slave);
    if (!n) return 0;
    n->port(port).advance(Clock::now());
    return n->port(port).txPending();
}

bool Emulator::breakActive(int port, int slave) const {
    if (port < 0 || port >= detail::kPorts) return false;
    std::lock_guard g(impl_->mu);
    const NodeMap* n = impl_->node(slave);
    return n && n->port(port).breakActive();
}

void Emulator::setLineTiming(bool on, int modbusBaud) {
    std::lock_guard g(impl_->mu);
    impl_->lineTiming = on;
    if (modbusBaud > 0) impl_->modbusBaud = modbusBaud;
}

std::string Emulator::instrumentPath(int port, int slave) const {
    if (port < 0 || port >= detail::kPorts) return {};
    std::lock_guard life(impl_->lifeMu);
    if (impl_->opt.slaves.empty() || slave != impl_->opt.slaves.front()) return {};
    const auto& a = impl_->atts[static_cast<std::size_t>(port)];
    return a ? a->path() : std::string{};
}

}  // namespace snsim
