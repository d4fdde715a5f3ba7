// Everything a stranger might try on snweb, from an HTTP client of the
// test's own: each is refused, nothing is switched on the node (the
// emulator's log says so), and the server goes on serving its own pages.
#include "serialClient.h"
#include "snwebFixture.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <csignal>

#include <fstream>
#include <functional>
#include <thread>

namespace {

using namespace std::chrono_literals;

class SnwebSecurityTest : public SnwebTest {
protected:
    // An instrument of the test's own on port 1 hears what was typed.
    SnwebSecurityTest()
        : SnwebTest([](snsim::Options& o) { o.ports[1].kind = snsim::Attachment::Kind::Pty; }) {}

    // The server still serves a page to the one who holds the token.
    void expectServing() const {
        const auto page = send("GET", "/node/alpha", cookie());
        EXPECT_EQ(page.status, 200u) << page.head;
        EXPECT_TRUE(has(page.body, "data-testid") || has(page.body, "app.js"));
    }
};

TEST_F(SnwebSecurityTest, TheTokenComesFromTheUrlAndBecomesAStrictCookie) {
    startWeb();
    for (const char* path :
         {"/", "/node/alpha", "/api/node/alpha/window.csv", "/static/app.js", "/node/nobody"}) {
        const auto refused = send("GET", path);
        EXPECT_EQ(refused.status, 401u) << path;
        EXPECT_FALSE(has(refused.body, std::to_string(kSerial[0]))) << path;
    }
    EXPECT_EQ(send("GET", "/?token=" + std::string(64, '0')).status, 401u);
    EXPECT_EQ(send("GET", "/", "Cookie: snweb_token=" + token + "x\r\n").status, 401u);

    const auto login = send("GET", "/node/alpha?token=" + token);
    EXPECT_EQ(login.status, 303u);
    EXPECT_TRUE(has(login.head, "location: /node/alpha\r\n")) << login.head;
    EXPECT_TRUE(has(login.head, "snweb_token=" + token + "; HttpOnly; SameSite=Strict; Path=/"))
        << login.head;
    EXPECT_TRUE(has(web.errorsSoFar(), "127.0.0.1: login"));
    expectServing();

    // The window as CSV carries the pinned readings once the node is read.
    std::string csv;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!has(csv = send("GET", "/api/node/alpha/window.csv", cookie()).body, "\n") ||
           csv.find('\n') == csv.size() - 1) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << csv;
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(has(csv, ",11,222,3333,44444,5,606,7070,65535\n")) << csv;
}

TEST_F(SnwebSecurityTest, ForeignHostOriginAndBodiesChangeNothing) {
    startWeb();
    // DNS rebinding: the right cookie under another name.
    EXPECT_EQ(send("GET", "/", cookie(), "", "evil.example:" + std::to_string(webPort)).status,
              403u);
    const std::string power = R"({"output":3,"on":true})";
    // Cross-site: another site's page, a page with no Origin, a form's type.
    EXPECT_EQ(command("alpha", "power", power, "Origin: http://evil.example\r\n").status, 403u);
    EXPECT_EQ(command("alpha", "power", power, "Origin: null\r\n").status, 403u);
    EXPECT_EQ(send("POST", "/api/node/alpha/power", cookie() + "Content-Type: application/json\r\n",
                   power)
                  .status,
              403u);
    EXPECT_EQ(send("POST", "/api/node/alpha/power",
                   cookie() + ownOrigin() + "Content-Type: text/plain\r\n", power)
                  .status,
              415u);
    // No token, a wrong one, a GET that would change, junk and oversize bodies.
    EXPECT_EQ(send("POST", "/api/node/alpha/power",
                   ownOrigin() + "Content-Type: application/json\r\n", power)
                  .status,
              401u);
    EXPECT_EQ(send("GET", "/api/node/alpha/power", cookie()).status, 404u);
    EXPECT_EQ(command("alpha", "power", "{\"output\":3,\"on\":tru").status, 400u);
    EXPECT_EQ(command("alpha", "power", R"({"output":9,"on":true})").status, 400u);
    EXPECT_EQ(command("alpha", "power", std::string(5000, ' ') + power).status, 413u);
    EXPECT_EQ(command("nobody", "power", power).status, 404u);
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(powerWrites(1).empty());
    EXPECT_FALSE(sim.coil(3, 1));
    EXPECT_TRUE(has(web.errorsSoFar(), "refused: Origin 'http://evil.example'"));

    // The page's own request goes through, and is logged with who sent it.
    EXPECT_EQ(command("alpha", "power", power).status, 202u);
    EXPECT_TRUE(waitForCoil(3, true, 1, 3s));
    EXPECT_FALSE(sim.coil(3, 2));
    EXPECT_TRUE(has(web.errorsSoFar(), "127.0.0.1: node alpha: power 3 on"));
    expectServing();
}

TEST_F(SnwebSecurityTest, WebSocketsOnlyFromOurOwnPagesAndOnlySmallMessages) {
    startWeb();
    const std::string ours = host() + cookie() + ownOrigin();
    auto [overview, head] = openSocket(webPort, upgrade("/ws", ours));
    EXPECT_TRUE(has(head, " 101 ")) << head;
    ::close(overview);
    for (const std::string& headers :
         {host() + cookie() + "Origin: http://evil.example\r\n", host() + cookie(),
          host() + ownOrigin(), "Host: evil.example:1\r\n" + cookie() + ownOrigin()}) {
        const std::string answer = sntest::exchange("127.0.0.1", webPort, upgrade("/ws", headers));
        EXPECT_FALSE(has(answer, " 101 ")) << headers << answer;
    }
    const auto [nobody, refusal] = openSocket(webPort, upgrade("/ws/node/nobody", ours));
    EXPECT_FALSE(has(refusal, " 101 ")) << refusal;
    ::close(nobody);

    // The node's stream starts with the pinned readings; a message over the
    // bound closes that connection, not the server.
    auto [fd, stream] = openSocket(webPort, upgrade("/ws/node/alpha", ours));
    ASSERT_TRUE(has(stream, " 101 ")) << stream;
    readUntil(
        fd, stream, [](const std::string& g) { return has(g, "3333,44444,5,606,7070,65535]"); },
        5s);
    EXPECT_TRUE(has(stream, "3333,44444,5,606,7070,65535]")) << stream.substr(0, 400);
    sntest::sendAll(fd, maskedBinary(std::string(65537, 'x')));
    // The server gives up on it at once and says why on the socket.
    std::string closing;
    readUntil(
        fd, closing, [](const std::string& g) { return has(g, "message over 65536 bytes"); }, 5s);
    EXPECT_TRUE(has(closing, "message over 65536 bytes"));
    EXPECT_TRUE(has(web.errorsSoFar(), "closed WebSocket: message over 65536 bytes"));
    ::close(fd);
    EXPECT_TRUE(has(web.errorsSoFar(), "refused WebSocket: Origin 'http://evil.example'"));
    expectServing();
}

// A service's token stays out of its output, which the journal keeps.
TEST_F(SnwebSecurityTest, ATokenFromAFileIsNeverPrinted) {
    const std::string secret = "file-token_0123456789abcdef";
    std::ofstream(dir + "/token") << secret << "\n";
    startWeb({"--token-file", dir + "/token"});
    EXPECT_TRUE(token.empty()) << web.outputSoFar();
    EXPECT_FALSE(has(web.outputSoFar() + web.errorsSoFar(), secret));
    EXPECT_TRUE(has(web.outputSoFar(), "add ?token= with the token in " + dir + "/token"))
        << web.outputSoFar();
    token = secret;
    expectServing();
}

TEST_F(SnwebSecurityTest, ManyConnectionsAndGarbageLeaveItServing) {
    startWeb();
    std::vector<int> held;
    for (int i = 0; i < 100; ++i) {
        const int fd = sntest::connectTo("127.0.0.1", webPort);
        if (fd >= 0) held.push_back(fd);
    }
    for (const std::string& junk :
         {std::string("\x16\x03\x01\x02\x00\x01", 6), std::string(70000, 'A') + "\r\n\r\n",
          std::string("GET / HTTP/1.1\r\nHost: ") + std::string(9000, 'h') + "\r\n\r\n",
          std::string("POST /api/node/alpha/power HTTP/1.1\r\nContent-Length: -5\r\n\r\n"),
          std::string("\r\n\r\n\0\0\0", 7)}) {
        for (int fd : held) sntest::sendAll(fd, junk.substr(0, 64));
        sntest::exchange("127.0.0.1", webPort, junk, true);
    }
    EXPECT_EQ(held.size(), 100u);
    expectServing();  // while they are held: one client never fills the server
    for (int fd : held) ::close(fd);
    expectServing();
    EXPECT_TRUE(powerWrites(1).empty());
    EXPECT_TRUE(web.running());
}

TEST_F(SnwebSecurityTest, ReadOnlyShowsButSwitchesNothing) {
    startWeb({"--read-only"});
    EXPECT_EQ(command("alpha", "power", R"({"output":3,"on":true})").status, 403u);
    EXPECT_EQ(command("alpha", "reset", R"({"confirm":true})").status, 403u);
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(powerWrites(1).empty());
    expectServing();
}

TEST_F(SnwebSecurityTest, TerminalsTypeOnlyFromOurOwnPagesAndNeverWhenReadOnly) {
    startWeb();
    const std::string path = "/ws/node/alpha/port/1";
    const std::string foreign = sntest::exchange(
        "127.0.0.1", webPort, upgrade(path, host() + cookie() + "Origin: http://evil.example\r\n"));
    EXPECT_FALSE(has(foreign, " 101 ")) << foreign;
    auto [fd, stream] = openSocket(webPort, upgrade(path, host() + cookie() + ownOrigin()));
    ASSERT_TRUE(has(stream, " 101 ")) << stream;
    readUntil(
        fd, stream, [](const std::string& g) { return has(g, "{\"typing\":true}"); }, 5s);
    EXPECT_TRUE(has(stream, "{\"typing\":true}"));
    sntest::SerialClient instrument;
    ASSERT_TRUE(instrument.open(sim.instrumentPath(1)));
    sntest::sendAll(fd, maskedBinary("ping-7\r"));
    const std::vector<uint8_t> typed = instrument.readExactly(7, 5s);
    EXPECT_EQ(std::string(typed.begin(), typed.end()), "ping-7\r");
    // Stopped with the terminal still open: it ends cleanly all the same.
    web.signal(SIGTERM);
    const sntest::RunResult ended = web.wait(5s);
    ::close(fd);
    EXPECT_EQ(ended.status, 0) << ended.err;
    const std::string& log = ended.err;
    EXPECT_TRUE(has(log, "127.0.0.1: node alpha: terminal on port 1 opened")) << log;
    EXPECT_TRUE(has(log, "127.0.0.1: node alpha: terminal on port 1 closed")) << log;
    EXPECT_EQ(log.find("opened"), log.rfind("opened")) << "only our own page's terminal opened";

    startWeb({"--read-only"});
    auto [watcher, seen] = openSocket(webPort, upgrade(path, host() + cookie() + ownOrigin()));
    ASSERT_TRUE(has(seen, " 101 ")) << seen;
    readUntil(
        watcher, seen, [](const std::string& g) { return has(g, "{\"typing\":false}"); }, 5s);
    EXPECT_TRUE(has(seen, "{\"typing\":false}"));
    sntest::sendAll(watcher, maskedBinary("ping-8\r"));
    EXPECT_TRUE(instrument.readExactly(1, 1500ms).empty()) << "typed into a read-only snweb";
    ::close(watcher);
    expectServing();
}

// Not a refusal, but the same stream: a node that stops answering shows
// down on the pages within 3 s, and up again by itself once it answers.
TEST_F(SnwebSecurityTest, ANodeThatStopsAnsweringShowsDownAndComesBack) {
    startWeb();
    auto [fd, stream] =
        openSocket(webPort, upgrade("/ws/node/alpha", host() + cookie() + ownOrigin()));
    ASSERT_TRUE(has(stream, " 101 ")) << stream;
    const auto up = [](const std::string& g) { return has(g, "\"up\":true}"); };
    readUntil(fd, stream, up, 5s);
    ASSERT_TRUE(up(stream));

    sim.setFault(snsim::Fault::NoAnswer);
    const auto silent = std::chrono::steady_clock::now();
    std::string after;
    readUntil(
        fd, after, [](const std::string& g) { return has(g, "\"up\":false}"); }, 5s);
    EXPECT_TRUE(has(after, "\"up\":false}"));
    EXPECT_LT(std::chrono::steady_clock::now() - silent, 3s);

    sim.setFault(snsim::Fault::None);
    std::string again;
    readUntil(fd, again, up, 5s);
    EXPECT_TRUE(up(again));
    ::close(fd);
}

}  // namespace
