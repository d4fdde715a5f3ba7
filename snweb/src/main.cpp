// snweb: the nodes in a browser.
#include <snLib.h>

#include <atomic>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "access.h"
#include "nodes.h"
#include "snVersion.h"
#include "sncommon/stopSignals.h"
#include "webOptions.h"
#include "webServer.h"

namespace {

std::string urlHost(const std::string& host) {
    return host.find(':') == std::string::npos ? host : "[" + host + "]";
}

int serve(const snweb::WebOptions& options) {
    const sncommon::StopSignals signals;  // before any thread, so all block them
    const std::string token =
        options.tokenFile.empty() ? snweb::newToken() : snweb::readTokenFile(options.tokenFile);
    initSensorNodeLib();
    snweb::WebServer* server = nullptr;
    std::vector<std::unique_ptr<snweb::NodePoller>> nodes;
    // The pollers tell the server through this, once it exists.
    std::atomic<snweb::WebServer*> listener{nullptr};
    for (const sncommon::NodeTarget& target : options.targets) {
        nodes.push_back(std::make_unique<snweb::NodePoller>(
            "snweb", target, options.rate,
            [&listener] {
                if (snweb::WebServer* s = listener.load()) s->nodeChanged();
            },
            [&listener] {
                if (snweb::WebServer* s = listener.load()) s->terminalNews();
            }));
    }
    snweb::WebServer web(options.listenHost, options.listenPort, token, options.allowedHosts,
                         options.readOnly, nodes);
    server = &web;
    listener = server;
    // A token of a file stays out of the output, which a service's journal keeps.
    if (options.tokenFile.empty())
        std::printf("snweb: open http://%s:%d/?token=%s\n", urlHost(options.listenHost).c_str(),
                    web.port(), token.c_str());
    else
        std::printf("snweb: open http://%s:%d/ and add ?token= with the token in %s\n",
                    urlHost(options.listenHost).c_str(), web.port(), options.tokenFile.c_str());
    std::fflush(stdout);
    std::thread stopper([&signals, &web] {
        signals.wait();
        web.stop();
    });
    web.run();
    listener = nullptr;
    stopper.join();
    nodes.clear();  // the pollers end before the server that they tell
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    try {
        const snweb::WebOptions options =
            snweb::parseWebOptions(std::vector<std::string>(argv + 1, argv + argc));
        if (options.help) {
            std::fputs(snweb::usageText(), stdout);
            return 0;
        }
        if (options.version) {
            std::printf("snweb (snLib) %s\n", SN_VERSION);
            return 0;
        }
        return serve(options);
    } catch (const snweb::OptionError& error) {
        std::fprintf(stderr, "snweb: %s\n", error.what());
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "snweb: %s\n", error.what());
        return 1;
    }
}
