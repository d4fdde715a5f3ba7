// snsim: the sensor-node emulator as a program.  Serves until SIGINT,
// SIGTERM or SIGHUP, then ends its commands, removes its links and exits 0.
#include "cli.h"
#include "snVersion.h"
#include "sncommon/stopSignals.h"
#include "snsim/emulator.h"

#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    snsim::cli::Parsed parsed;
    std::string err;
    if (!snsim::cli::parse(std::vector<std::string>(argv + 1, argv + argc), parsed, err)) {
        std::fprintf(stderr, "snsim: %s\n", err.c_str());
        return 2;
    }
    if (parsed.version) {
        std::printf("snsim (snLib) %s\n", SN_VERSION);
        return 0;
    }
    if (parsed.help) {
        std::fputs(snsim::cli::usage(), stdout);
        return 0;
    }
    // Taken by this thread only; every thread the emulator starts inherits
    // the blocked mask.
    const sncommon::StopSignals stopSignals({SIGINT, SIGTERM, SIGHUP});
    std::signal(SIGPIPE, SIG_IGN);

    snsim::Emulator emu(parsed.options);
    if (!emu.start()) return 1;
    for (int p = 0; p < 3; ++p) {
        const auto& a = parsed.options.ports[static_cast<std::size_t>(p)];
        if (a.kind != snsim::Attachment::Kind::Pty && a.kind != snsim::Attachment::Kind::Exec)
            continue;
        const std::string path =
            a.linkPath.empty() ? emu.instrumentPath(p, parsed.options.slaves.front()) : a.linkPath;
        std::printf("port %d instrument on %s\n", p, path.c_str());
    }
    const std::string device =
        parsed.options.linkPath.empty() ? emu.devicePath() : parsed.options.linkPath;
    std::printf("snsim ready on %s\n", device.c_str());
    std::fflush(stdout);

    stopSignals.wait();
    emu.stop();
    return 0;
}
