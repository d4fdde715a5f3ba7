#include "stateJson.h"

#include <nlohmann/json.hpp>

#include "sncommon/hexText.h"

namespace snweb {

namespace {

using nlohmann::json;
using sncommon::hexText;

json identity(const NodePoller& node, const NodeStatus& s) {
    json j = {{"name", node.target().name},
              {"device", node.target().device},
              {"slave", node.target().slave},
              {"up", s.up},
              {"lastAnswer", s.lastAnswer}};
    if (s.identityKnown) {
        j["serial"] = s.serial;
        j["revision"] = s.revision;
        // The registers' text as snctl and the exporter show them: the page
        // shows it as it is, so one format holds everywhere.
        j["revisionText"] = hexText(s.revision, 4);
    }
    return j;
}

json ports(const NodeStatus& s) {
    json list = json::array();
    for (const PortStatus& p : s.ports) {
        json port = {{"open", p.open}, {"txEnabled", p.txEnabled}, {"terminal", p.terminal}};
        if (p.flagsKnown) {
            port["flags"] = p.flags;
            port["flagsText"] = hexText(p.flags, 2);
        }
        list.push_back(port);
    }
    return list;
}

}  // namespace

std::string overviewJson(const std::vector<const NodePoller*>& nodes, bool readOnly) {
    json list = json::array();
    for (const NodePoller* node : nodes) list.push_back(identity(*node, node->status()));
    return json{{"kind", "overview"}, {"readOnly", readOnly}, {"nodes", list}}.dump();
}

std::string nodeJson(const NodePoller& node, const NodeStatus& s,
                     const std::vector<Sample>& samples, bool readOnly) {
    json status = identity(node, s);
    if (s.identityKnown) {
        status["board"] = s.board;
        status["boardText"] = hexText(s.board, 8);
        status["hwConfig"] = s.hwConfig;
        status["hwConfigText"] = hexText(s.hwConfig, 4);
        status["deviceTimeout"] = s.deviceTimeout;
        status["parms"] = s.parms;
    }
    if (s.outputsKnown) status["outputs"] = s.outputs;
    if (s.powerKnown) {
        status["power"] = s.powerVector;
        status["powerText"] = hexText(s.powerVector, 4);
    }
    status["ports"] = ports(s);
    status["lastAction"] = s.lastAction;
    if (s.lastActionPort >= 0) status["lastActionPort"] = s.lastActionPort;
    json rows = json::array();
    for (const Sample& sample : samples) {
        json row = json::array({sample.time});
        for (const uint16_t v : sample.values) row.push_back(v);
        rows.push_back(std::move(row));
    }
    return json{{"kind", "node"},
                {"readOnly", readOnly},
                {"name", node.target().name},
                {"status", status},
                {"samples", rows}}
        .dump();
}

}  // namespace snweb
