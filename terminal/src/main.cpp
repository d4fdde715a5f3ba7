// snterm: joins the console to one virtual serial port of a sensor node.
#include "snterm/options.h"
#include "snterm/startup.h"
#include "snterm/terminalSession.h"

#include <cstdio>

int main(int argc, char* argv[]) {
    snterm::Settings settings;
    const snterm::ParseResult parsed = snterm::parseOptions(argc, argv, settings, stdout);
    if (!parsed.proceed) {
        return parsed.exitStatus;
    }
    snterm::printBanner(settings, stdout);
    SensorNode* node = snterm::startNode(settings, stdout);
    if (node == nullptr) {
        return 1;
    }
    return snterm::runTerminal(node, settings);
}
