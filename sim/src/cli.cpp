#include "cli.h"

#include <algorithm>
#include <optional>

#include "sncommon/integerParsing.h"

namespace snsim::cli {

namespace {

// A whole number in [lo, hi]; false with the one message for it in err.
bool toInt(const std::string& s, long lo, long hi, const std::string& what, int& out,
           std::string& err) {
    const std::optional<long> value = sncommon::parseInteger(s, lo, hi);
    if (!value) {
        err = sncommon::integerRangeError(what, lo, hi, s);
        return false;
    }
    out = static_cast<int>(*value);
    return true;
}

}  // namespace

const char* usage() {
    return "usage: snsim [--link PATH] [--slave LIST] [--port0|--port1|--port2 ATTACHMENT]\n"
           "             [--line-timing] [--baud N] [--tx-fifo N] [--rx-fifo N] [--help] "
           "[--version]\n"
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
        out = Attachment{Attachment::Kind::Pty, "", text.substr(4)};
        if (out.linkPath.empty()) err = "pty: needs a link path after the colon";
        return !out.linkPath.empty();
    } else if (text.rfind("exec:", 0) == 0) {
        out = Attachment{Attachment::Kind::Exec, text.substr(5), ""};
        if (out.command.empty()) err = "exec: needs a command";
        return !out.command.empty();
    } else {
        err = "unknown attachment '" + text + "' (loopback, none, pty[:LINK], exec:COMMAND)";
        return false;
    }
    return true;
}

namespace {

bool parseSlaves(const std::string& list, Options& options, std::string& err) {
    options.slaves.clear();
    std::size_t start = 0;
    for (;;) {
        const auto comma = list.find(',', start);
        const std::string item =
            list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        int slave = 0;
        if (!toInt(item, 1, 247, "slave address", slave, err)) return false;
        if (std::find(options.slaves.begin(), options.slaves.end(), slave) !=
            options.slaves.end()) {
            err = "slave address " + item + " given twice";
            return false;
        }
        options.slaves.push_back(slave);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

// One option that takes a value.
bool applyValue(const std::string& opt, const std::string& v, Options& options, std::string& err) {
    if (opt == "--link") {
        if (v.empty()) err = "--link needs a path";
        options.linkPath = v;
        return !v.empty();
    }
    if (opt == "--slave") return parseSlaves(v, options, err);
    if (opt == "--port0" || opt == "--port1" || opt == "--port2") {
        const auto p = static_cast<std::size_t>(opt[6] - '0');
        if (parseAttachment(v, options.ports[p], err)) return true;
        err = opt + ": " + err;
        return false;
    }
    if (opt == "--baud") return toInt(v, 1, 100'000'000, "--baud", options.modbusBaud, err);
    int n = 0;
    if (!toInt(v, 1, 1 << 24, opt, n, err)) return false;
    (opt == "--tx-fifo" ? options.txFifoSize : options.rxFifoSize) = static_cast<std::size_t>(n);
    return true;
}

bool takesValue(const std::string& opt) {
    for (const char* name :
         {"--link", "--slave", "--port0", "--port1", "--port2", "--baud", "--tx-fifo", "--rx-fifo"})
        if (opt == name) return true;
    return false;
}

// Every link path at most once: two of them on one path would leave one
// end unreachable.
bool linksDistinct(const Options& options, std::string& err) {
    std::vector<std::string> paths;
    if (!options.linkPath.empty()) paths.push_back(options.linkPath);
    for (const Attachment& port : options.ports)
        if (!port.linkPath.empty()) paths.push_back(port.linkPath);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (std::find(paths.begin() + static_cast<std::ptrdiff_t>(i) + 1, paths.end(), paths[i]) !=
            paths.end()) {
            err = "link path " + paths[i] + " given twice";
            return false;
        }
    }
    return true;
}

}  // namespace

bool parse(const std::vector<std::string>& args, Parsed& out, std::string& err) {
    out = Parsed{};
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string opt = args[i];
        std::optional<std::string> value;
        if (const auto eq = opt.find('='); opt.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = opt.substr(eq + 1);
            opt.resize(eq);
        }
        if (opt == "--help" || opt == "-h") {
            out.help = true;
        } else if (opt == "--version") {
            out.version = true;
        } else if (opt == "--line-timing") {
            out.options.lineTiming = true;
        } else if (!takesValue(opt)) {
            err = "unknown argument '" + args[i] + "' (try --help)";
            return false;
        } else if (!value && i + 1 >= args.size()) {
            err = "option " + opt + " needs a value";
            return false;
        } else if (!applyValue(opt, value ? *value : args[++i], out.options, err)) {
            return false;
        }
    }
    return linksDistinct(out.options, err);
}

}  // namespace snsim::cli
