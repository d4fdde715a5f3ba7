// "scan": asks every address in the list for its identity and lists the
// nodes that answer.
#include "failure.h"
#include "oneShotCommands.h"
#include "scanLink.h"
#include "scanOptions.h"
#include "sncommon/hexText.h"

#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <vector>

namespace snctl {

namespace {

struct FoundNode {
    int slave;
    uint16_t serialNumber;
    uint16_t softwareRevision;
};

// Progress on standard error, on a terminal only: a log or a pipe gets
// nothing but the notes.
class ScanProgress {
public:
    explicit ScanProgress(std::size_t total) : total_(total), shown_(isatty(STDERR_FILENO) == 1) {}
    ~ScanProgress() { clear(); }
    void show(int slave, std::size_t done, std::size_t found) const {
        if (shown_)
            std::fprintf(stderr, "\rscan: slave %d (%zu of %zu), %zu found\033[K", slave, done + 1,
                         total_, found);
    }
    void clear() const {
        if (shown_) std::fputs("\r\033[K", stderr);
    }

private:
    std::size_t total_;
    bool shown_;
};

void note(const ScanAnswer& answer, int slave) {
    const char* what = answer.kind == ScanAnswer::Kind::Refused
                           ? "answered without an identity"
                           : "gave an answer that does not check out (two devices at one address?)";
    const DeviceError error("scan: slave " + std::to_string(slave) + " " + what,
                            answer.errorNumber);
    std::fprintf(stderr, "snctl: %s\n", describeDeviceError(error).c_str());
}

void printNodes(const std::vector<FoundNode>& nodes, bool json, std::FILE* out) {
    if (json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const FoundNode& node : nodes) {
            list.push_back({{"slave", node.slave},
                            {"serial_number", node.serialNumber},
                            {"software_revision", node.softwareRevision}});
        }
        const std::string text = nlohmann::ordered_json{{"nodes", list}}.dump() + "\n";
        std::fputs(text.c_str(), out);
    } else {
        for (const FoundNode& node : nodes)
            std::fprintf(out, "slave %d: serial number %u, software revision %s\n", node.slave,
                         node.serialNumber, sncommon::hexText(node.softwareRevision, 4).c_str());
    }
    std::fflush(out);
}

// Returns how many addresses answered with something other than an identity.
std::size_t scanEach(ScanLink& link, const std::vector<int>& slaves,
                     std::vector<FoundNode>& found) {
    const ScanProgress progress(slaves.size());
    std::size_t noted = 0;
    for (std::size_t i = 0; i < slaves.size(); ++i) {
        progress.show(slaves[i], i, found.size());
        const ScanAnswer answer = link.ask(slaves[i]);
        if (answer.kind == ScanAnswer::Kind::Identity) {
            found.push_back({slaves[i], answer.serialNumber, answer.softwareRevision});
        } else if (answer.kind != ScanAnswer::Kind::Silent) {
            progress.clear();
            note(answer, slaves[i]);
            ++noted;
        }
    }
    return noted;
}

}  // namespace

void runScan(const Arguments& args, CommandContext& context) {
    const ScanOptions options = parseScanOptions(args);
    ScanLink link(context.options.device, context.options.modbusBaud, options.timeout);
    std::vector<FoundNode> found;
    std::size_t noted = 0;
    try {
        noted = scanEach(link, options.slaves, found);
    } catch (const DeviceError&) {
        printNodes(found, context.options.json, context.out);  // what was found stays shown
        throw;
    }
    printNodes(found, context.options.json, context.out);
    if (found.empty() && noted == 0)  // an empty result, not a failure: said apart
        std::fprintf(stderr, "snctl: scan: no node answered at %s\n",
                     describeSlaveList(options.slaves).c_str());
}

}  // namespace snctl
