// The real `snctl exporter` with two targets: "direct", an emulated node on
// a line of its own, and "bus", slave 2 of the node behind the real snbusd
// (the daemon fixture's).  Requests go over a bare socket, so the tests can
// send what no real client would.
#pragma once

#include "../snbusd/daemonFixture.h"
#include "capturedProcess.h"
#include "rawHttpClient.h"

#include <map>
#include <string>
#include <vector>

class ExporterTest : public snbusd_test::DaemonTest {
protected:
    ExporterTest();
    void SetUp() override;     // the nodes; the daemon and the exporter come later
    void TearDown() override;  // the exporter has complained of nothing

    // snctl exporter on 127.0.0.1:0 with the two targets, ready to serve
    // (and the daemon first, unless a test started it).
    void startExporter();
    bool exporterRunning();
    // GET PATH, with `headers` (CRLF lines) added.
    sntest::HttpReply get(const std::string& path, const std::string& headers = "") const;
    sntest::HttpReply probe(const std::string& target, const std::string& headers = "") const {
        return get("/probe?target=" + target, headers);
    }

    // A page's samples, "name{labels}" to value.
    static std::map<std::string, double> samples(const std::string& page);
    // promtool check metrics on a page: its complaints, empty when it passes.
    std::string promtoolComplaints(const std::string& page) const;

    // Pins the node's identity, outputs and analog channels to values of
    // the test's own, distinct per `base`.
    static void pinNode(snsim::Emulator& node, int slave, uint16_t base);

    snsim::Emulator direct;
    sntest::CapturedProcess exporter;
    uint16_t exporterPort = 0;
};
