// The attachment pump: carries bytes between the ports' FIFOs and their
// instrument ptys, at the ports' line speed.
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "emulatorImpl.h"

namespace snsim {

namespace {

using Allowances = std::array<std::size_t, detail::kPorts>;

}  // namespace

// Under mu: moves drained bytes towards the attachments and works out how
// much each instrument may send now.  True while a transmitter is moving.
bool Emulator::Impl::advancePorts(Allowances& allowance) {
    bool txMoving = false;
    const auto now = Clock::now();
    detail::NodeMap* first = nodes.empty() ? nullptr : nodes.front().get();
    for (int p = 0; first && p < detail::kPorts; ++p) {
        auto& a = atts[static_cast<std::size_t>(p)];
        if (!a) continue;
        detail::PortModel& pm = first->port(p);
        pm.advance(now);
        a->queueOut(pm.takeExternal());
        allowance[static_cast<std::size_t>(p)] = pm.rxAllowance(now);
        if (pm.nextDrain()) txMoving = true;
    }
    return txMoving;
}

// Reads what an instrument sent, within its allowance, into its port.
void Emulator::Impl::takeFromInstrument(int p, std::size_t allowance) {
    uint8_t buf[256];
    const std::size_t n =
        atts[static_cast<std::size_t>(p)]->readIn(buf, std::min(sizeof buf, allowance));
    if (n == 0) return;
    std::lock_guard g(mu);
    if (nodes.empty()) return;
    detail::PortModel& pm = nodes.front()->port(p);
    pm.pushRx(buf, n);
    pm.consumeRxAllowance(n, Clock::now());
}

void Emulator::Impl::pumpLoop() {
    while (!pumpQuit) {
        Allowances allowance{};
        bool waiting = false;
        {
            std::lock_guard g(mu);
            waiting = advancePorts(allowance);
        }
        std::vector<pollfd> fds{{pumpWake[0], POLLIN, 0}};
        std::array<int, detail::kPorts> index{-1, -1, -1};
        for (int p = 0; p < detail::kPorts; ++p) {
            auto& a = atts[static_cast<std::size_t>(p)];
            if (!a || a->fd() < 0) continue;
            a->flushOut();
            short events = a->outPending() ? POLLOUT : 0;
            if (allowance[static_cast<std::size_t>(p)] > 0)
                events |= POLLIN;
            else
                waiting = true;  // line busy: look again shortly
            if (events == 0) continue;
            index[static_cast<std::size_t>(p)] = static_cast<int>(fds.size());
            fds.push_back({a->fd(), events, 0});
        }
        if (poll(fds.data(), fds.size(), waiting ? 2 : 50) < 0 && errno != EINTR) return;
        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (::read(pumpWake[0], drain, sizeof drain) > 0) {
            }
        }
        for (int p = 0; p < detail::kPorts; ++p) {
            const int i = index[static_cast<std::size_t>(p)];
            if (i >= 0 && (fds[static_cast<std::size_t>(i)].revents & (POLLIN | POLLHUP | POLLERR)))
                takeFromInstrument(p, allowance[static_cast<std::size_t>(p)]);
        }
    }
}

}  // namespace snsim
