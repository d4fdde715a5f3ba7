// snweb's parts that need no node: who gets in, which paths mean what,
// which commands pass, and the plot window's bound.
#include <gtest/gtest.h>

#include "access.h"
#include "actions.h"
#include "routes.h"
#include "sampleWindow.h"
#include "webOptions.h"

namespace {

const snweb::AccessPolicy kPolicy =
    snweb::makePolicy("0123456789abcdef", "127.0.0.1", 9741, {"rack.example"});

TEST(SnwebAccess, HostMustBeAnAddressOfOursWithOurPort) {
    for (const char* good :
         {"127.0.0.1:9741", "localhost:9741", "LOCALHOST:9741", "[::1]:9741", "rack.example:9741"})
        EXPECT_TRUE(snweb::hostAllowed(kPolicy, good)) << good;
    // A rebinding attacker's name, another port, a name with no port (the
    // browser always sends a port other than 80), and broken forms.
    for (const char* bad : {"evil.example:9741", "127.0.0.1:9742", "127.0.0.1",
                            "127.0.0.1:", "[::1", "", "127.0.0.1:9741x", "rack.example.evil:9741"})
        EXPECT_FALSE(snweb::hostAllowed(kPolicy, bad)) << bad;
    // A public listen address brings no loopback names with it.
    const auto lan = snweb::makePolicy("t", "192.168.1.5", 80, {});
    EXPECT_TRUE(snweb::hostAllowed(lan, "192.168.1.5"));
    EXPECT_FALSE(snweb::hostAllowed(lan, "localhost"));
}

TEST(SnwebAccess, OriginIsThisSiteOverPlainHttpOnly) {
    EXPECT_TRUE(snweb::originAllowed(kPolicy, "http://127.0.0.1:9741"));
    EXPECT_TRUE(snweb::originAllowed(kPolicy, "http://localhost:9741"));
    for (const char* bad : {"", "null", "https://127.0.0.1:9741", "http://evil.example",
                            "http://127.0.0.1:9741/x", "http://127.0.0.1:1", "file://"})
        EXPECT_FALSE(snweb::originAllowed(kPolicy, bad)) << bad;
}

TEST(SnwebAccess, TokenAndCookie) {
    EXPECT_TRUE(snweb::tokenMatches("0123456789abcdef", "0123456789abcdef"));
    EXPECT_FALSE(snweb::tokenMatches("0123456789abcdef", "0123456789abcdeF"));
    EXPECT_FALSE(snweb::tokenMatches("0123456789abcdef", "0123456789abcde"));
    EXPECT_FALSE(snweb::tokenMatches("", ""));  // no token means no access, never open
    EXPECT_EQ(snweb::cookieValue("a=1; snweb_token=xyz; b=2", "snweb_token"), "xyz");
    EXPECT_EQ(snweb::cookieValue("snweb_token=", "snweb_token"), "");
    EXPECT_FALSE(snweb::cookieValue("xsnweb_token=1; snweb_tokenx=2", "snweb_token"));
    const std::string a = snweb::newToken();
    EXPECT_EQ(a.size(), 64u);
    EXPECT_NE(a, snweb::newToken());
}

TEST(SnwebRoutes, BookmarkedPathsAndNothingElse) {
    EXPECT_EQ(snweb::routeOf("/").page, snweb::Page::Overview);
    const auto node = snweb::routeOf("/node/rack-1");
    EXPECT_EQ(node.page, snweb::Page::Node);
    EXPECT_EQ(node.node, "rack-1");
    const auto port = snweb::routeOf("/node/rack-1/port/2");
    EXPECT_EQ(port.page, snweb::Page::Port);
    EXPECT_EQ(port.port, 2);
    EXPECT_EQ(snweb::routeOf("/api/node/a/window.csv").page, snweb::Page::Csv);
    const auto command = snweb::routeOf("/api/node/a/power");
    EXPECT_EQ(command.page, snweb::Page::Command);
    EXPECT_EQ(command.detail, "power");
    EXPECT_EQ(snweb::routeOf("/ws/node/a").node, "a");
    EXPECT_EQ(snweb::routeOf("/static/app.js").detail, "app.js");
    for (const char* bad :
         {"", "node/a", "/node/", "/node/a/port/3", "/node/a/port/", "/node/a/x", "/node/a<b",
          "/static/../x", "/static/a/b", "/api/node/a/b/c", "/ws/", "/wsx", "/node/a/port/1/x"})
        EXPECT_EQ(snweb::routeOf(bad).page, snweb::Page::NotFound) << bad;
}

TEST(SnwebCommands, WhatPassesIsWithinTheNodesBounds) {
    auto parsed = snweb::parseCommand("power", R"({"output":3,"on":true})");
    ASSERT_TRUE(parsed.command);
    EXPECT_EQ(parsed.command->index, 3);
    EXPECT_EQ(snweb::describe(*parsed.command), "power 3 on");
    parsed =
        snweb::parseCommand("port", R"({"port":1,"do":"line","speed":9600,"parity":"E","stop":2})");
    ASSERT_TRUE(parsed.command);
    EXPECT_EQ(snweb::describe(*parsed.command), "port 1 line 9600 E2");
    parsed = snweb::parseCommand("parms", R"({"channel":7,"words":[65535,0]})");
    ASSERT_TRUE(parsed.command);
    EXPECT_EQ(parsed.command->words[0], 65535);
    EXPECT_TRUE(snweb::parseCommand("reset", R"({"confirm":true})").command);
    for (const auto& [action, body] : std::vector<std::pair<std::string, std::string>>{
             {"power", R"({"output":4,"on":true})"},
             {"power", R"({"output":-1,"on":true})"},
             {"power", R"({"output":"3","on":true})"},
             {"power", R"({"output":3,"on":1})"},
             {"power", R"({"output":3.0,"on":true})"},
             {"power", "[3,true]"},
             {"power", "{\"output\":3,"},
             {"reset", "{}"},
             {"reset", R"({"confirm":"yes"})"},
             {"parms", R"({"channel":0,"words":[65536,0]})"},
             {"parms", R"({"channel":0,"words":[-1,0]})"},
             {"parms", R"({"channel":0,"words":[1]})"},
             {"port", R"({"port":3,"do":"flushin"})"},
             {"port", R"({"port":0,"do":"line","speed":9600,"parity":"X","stop":1})"},
             // the node keeps a quarter of the speed in 16 bits: faster would be another speed
             {"port", R"({"port":0,"do":"line","speed":262144,"parity":"N","stop":1})"},
             {"port", R"({"port":0,"do":"break","ms":0})"},
             {"port", R"({"port":0,"do":"clearflags","mask":32})"},
             {"port", R"({"port":0,"do":"format"})"},
             {"shutdown", "{}"},
             {"power", std::string(2000, ' ') + R"({"output":3,"on":true})"},
         }) {
        const auto refused = snweb::parseCommand(action, body);
        EXPECT_FALSE(refused.command) << action << " " << body;
        EXPECT_FALSE(refused.refusal.empty()) << action << " " << body;
    }
}

TEST(SnwebWindow, HoldsTheNewestWithinItsBoundAndWritesThemAsCsv) {
    EXPECT_GE(snpoll::windowCapacity(2, 600), 1200u);
    EXPECT_GE(snpoll::windowCapacity(10, 600), 6000u);
    snpoll::SampleWindow window(3);
    for (int i = 1; i <= 5; ++i) {
        snpoll::Sample s;
        s.time = i;
        s.values.fill(static_cast<uint16_t>(100 + i));
        window.add(s);
    }
    EXPECT_EQ(window.size(), 3u);
    const auto all = window.since(0, 100);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all.front().time, 3);  // the oldest gave way
    EXPECT_EQ(all.back().values[7], 105);
    const auto newer = window.since(4, 100);
    ASSERT_EQ(newer.size(), 1u);
    EXPECT_EQ(newer[0].time, 5);
    EXPECT_EQ(window.since(0, 2).front().time, 4);  // the newest when limited
    EXPECT_EQ(window.csv(),
              "time,ch0,ch1,ch2,ch3,ch4,ch5,ch6,ch7\n"
              "3.000,103,103,103,103,103,103,103,103\n"
              "4.000,104,104,104,104,104,104,104,104\n"
              "5.000,105,105,105,105,105,105,105,105\n");
}

TEST(SnwebOptions, DefaultsAndRefusals) {
    const auto options = snweb::parseWebOptions({"--target", "a=tcp:127.0.0.1:1502,slave=2"});
    EXPECT_EQ(options.listenHost, "127.0.0.1");
    EXPECT_EQ(options.listenPort, 9741);
    EXPECT_EQ(options.rate, 2.0);
    EXPECT_EQ(options.targets.at(0).slave, 2);
    EXPECT_EQ(snweb::parseWebOptions({"--listen", "8080", "--target=a=/x"}).listenPort, 8080);
    const auto v6 = snweb::parseWebOptions({"--listen=[::1]:0", "--target=a=/x", "--rate=0.2"});
    EXPECT_EQ(v6.listenHost, "::1");
    EXPECT_EQ(v6.listenPort, 0);
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{},
                                               {"--target"},
                                               {"--target", "a=/x", "--rate", "0.1"},
                                               {"--target", "a=/x", "--rate", "11"},
                                               {"--target", "a=/x", "--rate", "nan"},
                                               {"--target", "a=/x", "--listen", "70000"},
                                               {"--target", "a=/x", "--target", "a=/y"},
                                               {"--target", "a=/x", "--allow-host", "evil:80"},
                                               {"--target", "a=/x", "stray"},
                                               {"--target", "a=/x", "--bogus", "1"}}) {
        EXPECT_THROW(snweb::parseWebOptions(bad), snweb::OptionError)
            << ::testing::PrintToString(bad);
    }
}

}  // namespace
