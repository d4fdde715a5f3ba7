#include "cli.h"

#include <cerrno>
#include <cstdlib>

namespace snsim::cli {

namespace {

bool toInt(const std::string& s, long lo, long hi, int& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

}  // namespace

const char* usage() {
    return "usage: snsim [--link PATH] [--slave LIST] [--port0|--port1|--port2 ATTACHMENT]\n"
           "             [--line-timing] [--baud N] [--tx-fifo N] [--rx-fifo N] [--help]\n"
           "  Emulates a sensor node: a Modbus RTU slave on a pseudo-terminal.\n"
           "  --link PATH     also reach the device through symlink PATH\n"
           "  --slave LIST    slave addresses answered, comma separated (default 1)\n"
           "  --portP ATT     what virtual port P (0..2) is wired to:\n"
           "                    loopback (default), none, pty[:LINKPATH], exec:COMMAND\n"
           "  --line-timing   answer only after real frame times at the Modbus speed\n"
           "  --baud N        Modbus line speed for --line-timing (default 115200)\n"
           "  --tx-fifo N     transmit FIFO size of each virtual port (default 512)\n"
           "  --rx-fifo N     receive FIFO size of each virtual port (default 512)\n"
           "  Prints 'snsim ready on DEVICE' when answering; runs until SIGINT/SIGTERM.\n";
}

bool parseAttachment(const std::string& text, Attachment& out, std::string& err) {
    out = Attachment{};
    if (text == "loopback") {
        out.kind = Attachment::Kind::Loopback;
    } else if (text == "none") {
        out.kind = Attachment::Kind::None;
    } else if (text == "pty") {
        out.kind = Attachment::Kind::Pty;
    } else if (text.rfind("pty:", 0) == 0) {
        out.kind = Attachment::Kind::Pty;
        out.linkPath = text.substr(4);
        if (out.linkPath.empty()) {
            err = "pty: needs a link path after the colon";
            return false;
        }
    } else if (text.rfind("exec:", 0) == 0) {
        out.kind = Attachment::Kind::Exec;
        out.command = text.substr(5);
        if (out.command.empty()) {
            err = "exec: needs a command";
            return false;
        }
    } else {
        err = "unknown attachment '" + text + "' (loopback, none, pty[:LINK], exec:COMMAND)";
        return false;
    }
    return true;
}

bool parse(const std::vector<std::string>& args, Parsed& out, std::string& err) {
    out = Parsed{};
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string opt = args[i];
        std::string val;
        bool hasInline = false;
        if (const auto eq = opt.find('='); opt.rfind("--", 0) == 0 && eq != std::string::npos) {
            val = opt.substr(eq + 1);
            opt = opt.substr(0, eq);
            hasInline = true;
        }
        auto value = [&](std::string& v) {
            if (hasInline) {
                v = val;
                return true;
            }
            if (i + 1 >= args.size()) {
                err = "option " + opt + " needs a value";
                return false;
            }
            v = args[++i];
            return true;
        };
        std::string v;
        if (opt == "--help" || opt == "-h") {
            out.help = true;
        } else if (opt == "--line-timing") {
            out.options.lineTiming = true;
        } else if (opt == "--link") {
            if (!value(v)) return false;
            if (v.empty()) {
                err = "--link needs a path";
                return false;
            }
            out.options.linkPath = v;
        } else if (opt == "--slave") {
            if (!value(v)) return false;
            out.options.slaves.clear();
            std::size_t start = 0;
            for (;;) {
                const auto comma = v.find(',', start);
                const std::string item =
                    v.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
                int s = 0;
                if (!toInt(item, 1, 247, s)) {
                    err = "bad slave address '" + item + "' (1..247)";
                    return false;
                }
                for (int have : out.options.slaves)
                    if (have == s) {
                        err = "slave address " + item + " given twice";
                        return false;
                    }
                out.options.slaves.push_back(s);
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
        } else if (opt == "--port0" || opt == "--port1" || opt == "--port2") {
            if (!value(v)) return false;
            const std::size_t p = static_cast<std::size_t>(opt[6] - '0');
            if (!parseAttachment(v, out.options.ports[p], err)) {
                err = opt + ": " + err;
                return false;
            }
        } else if (opt == "--baud") {
            if (!value(v)) return false;
            if (!toInt(v, 1, 100'000'000, out.options.modbusBaud)) {
                err = "bad --baud '" + v + "'";
                return false;
            }
        } else if (opt == "--tx-fifo" || opt == "--rx-fifo") {
            if (!value(v)) return false;
            int n = 0;
            if (!toInt(v, 1, 1 << 24, n)) {
                err = "bad " + opt + " '" + v + "'";
                return false;
            }
            (opt == "--tx-fifo" ? out.options.txFifoSize : out.options.rxFifoSize) =
                static_cast<std::size_t>(n);
        } else {
            err = "unknown argument '" + args[i] + "' (try --help)";
            return false;
        }
    }
    return true;
}

}  // namespace snsim::cli
