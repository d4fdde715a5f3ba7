// The attachment pump: carries bytes between the ports' FIFOs and their
// instrument ptys, at the ports' line speed.
#include "emulatorImpl.h"

#include <poll.h>
#include <unistd.h>
#include <cerrno>

namespace snsim {

void Emulator::Impl::pumpLoop() {
    using namespace std::chrono_literals;
    for (;;) {
        if (pumpQuit) return;
        std::array<std::size_t, 3> allowance{};
        bool txMoving = false;
        {
            std::lock_guard g(mu);
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
        }
        std::vector<pollfd> fds{{pumpWake[0], POLLIN, 0}};
        std::array<int, 3> index{-1, -1, -1};
        bool waiting = txMoving;
        for (int p = 0; p < detail::kPorts; ++p) {
            auto& a = atts[static_cast<std::size_t>(p)];
            if (!a || a->fd() < 0) continue;
            a->flushOut();
            short ev = 0;
            if (allowance[static_cast<std::size_t>(p)] > 0)
                ev |= POLLIN;
            else
                waiting = true;  // line busy: look again shortly
            if (a->outPending()) {
                ev |= POLLOUT;
            }
            if (ev == 0) continue;
            index[static_cast<std::size_t>(p)] = static_cast<int>(fds.size());
            fds.push_back({a->fd(), ev, 0});
        }
        const int rc = poll(fds.data(), fds.size(), waiting ? 2 : 50);
        if (rc < 0 && errno != EINTR) return;
        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (::read(pumpWake[0], drain, sizeof drain) > 0) {
            }
        }
        for (int p = 0; p < detail::kPorts; ++p) {
            const int i = index[static_cast<std::size_t>(p)];
            if (i < 0 || !(fds[static_cast<std::size_t>(i)].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            auto& a = atts[static_cast<std::size_t>(p)];
            uint8_t buf[256];
            const std::size_t want = std::min(sizeof buf, allowance[static_cast<std::size_t>(p)]);
            const std::size_t n = a->readIn(buf, want);
            if (n == 0) continue;
            std::lock_guard g(mu);
            if (nodes.empty()) continue;
            detail::PortModel& pm = nodes.front()->port(p);
            pm.pushRx(buf, n);
            pm.consumeRxAllowance(n, Clock::now());
        }
    }
}

}  // namespace snsim
