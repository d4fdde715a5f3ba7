// Every example of the README, of the pages it links and of the man pages,
// built and run as a reader would run it, against the emulator: the docs are
// tested like the code.  The README and its pages run in one session, in
// the order they stand, as in a reader's shell: what a line starts in the
// background (&) still runs for every later block and page, what it starts
// in the foreground runs until its block ends (the reader stops it to go
// on), and an export holds for every later line.  What the test changes in
// a line is only where things are, so that it runs beside other tests:
// /tmp/node and the devices the man pages name become an emulator's link in
// a directory of the test's own, build/ the build tree, and the bus daemon,
// the exporter and the MQTT broker listen on free ports, which replace
// 1502, 9740 and 1883 wherever a later line names them.  A line that
// reaches a broker (Debian's mosquitto, on 1883 for a reader) gets a
// mosquitto of the test's own, started before it as the daemon is.
#include "busDaemonProcess.h"
#include "capturedProcess.h"
#include "consoleProgram.h"
#include "docExamples.h"
#include "freePort.h"
#include "simProcess.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sntest::RunResult;

namespace {

// Lines no test may run: they install into the system, or they are the
// whole build, the whole suite this test is part of, or the benchmark.
bool runsOnlyOnAUsersMachine(const std::string& command) {
    for (const char* start : {"sudo ", "./run ", "cmake ", "bench/"}) {
        if (command.rfind(start, 0) == 0) return true;
    }
    return false;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::string programOf(const std::string& command) {
    const std::string first = command.substr(0, command.find(' '));
    return first.substr(first.rfind('/') + 1);
}

enum class Serves { Other, Daemon, Exporter, Broker };

struct Service {
    std::string command;
    std::unique_ptr<sntest::CapturedProcess> process;
    bool background;  // started with &: outlives its block in a session
    Serves serves;
};

// The README, then each page it links, in the order it first links them.
std::vector<std::string> readersPages() {
    std::ifstream in(SOURCE_DIR "/README.md");
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    std::vector<std::string> pages{SOURCE_DIR "/README.md"};
    const std::regex link("\\]\\((docs/[A-Za-z0-9_-]+\\.md)\\)");
    for (std::sregex_iterator it(text.begin(), text.end(), link), end; it != end; ++it) {
        const std::string page = std::string(SOURCE_DIR "/") + (*it)[1].str();
        if (std::find(pages.begin(), pages.end(), page) == pages.end()) pages.push_back(page);
    }
    return pages;
}

class DocExamplesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char dir[] = "/tmp/snlib-docs-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        work = dir;
        const RunResult install = sntest::runProgram(
            {CMAKE_COMMAND_PATH, "--install", BUILD_DIR, "--prefix", work + "/prefix"}, 120s);
        ASSERT_EQ(install.status, 0) << install.out << install.err;
    }

    static void TearDownTestSuite() { fs::remove_all(work); }

    void TearDown() override { endBlock(); }

    // The environment of a user who installed the tree in `prefix`, and
    // the Python package (the package's handler for pyserial aside: a line
    // that needs it names `python3 -m snlib`, as in the build tree).
    static std::vector<std::string> environment() {
        const std::string prefix = work + "/prefix";
        const std::string lib = prefix + "/" LIBDIR;
        return {"/usr/bin/env",
                "PATH=" + prefix + "/bin:/usr/local/bin:/usr/bin:/bin",
                "PKG_CONFIG_PATH=" + lib + "/pkgconfig",
                "LD_LIBRARY_PATH=" + lib,
                "MANPATH=" + prefix + "/share/man",
                "MANWIDTH=80",
                "PYTHONPATH=" SOURCE_DIR "/python",
                "PYTHONDONTWRITEBYTECODE=1",
                "HOME=" + work,
                "/bin/sh",
                "-c"};
    }

    std::vector<std::string> shell(const std::string& command) const {
        std::vector<std::string> argv = environment();
        argv.push_back("cd " + work + " && " + exports + command);
        return argv;
    }

    std::string localise(std::string line) const {
        // The reader stands in the source tree, the test in its own directory.
        replaceAll(line, "$PWD/build/", std::string(BUILD_DIR) + "/");
        replaceAll(line, "$PWD/python", std::string(SOURCE_DIR) + "/python");
        if (line.rfind("build/", 0) == 0) line = std::string(BUILD_DIR) + line.substr(5);
        replaceAll(line, " build/", std::string(" ") + BUILD_DIR + "/");
        for (const char* device : {"/tmp/node", "/dev/ttyUSB0", "COM2"})
            replaceAll(line, device, node());
        if (daemonPort != 0) replaceAll(line, "1502", std::to_string(daemonPort));
        if (exporterPort != 0) replaceAll(line, "9740", std::to_string(exporterPort));
        if (brokerPort != 0) replaceAll(line, "1883", std::to_string(brokerPort));
        return line;
    }

    static std::string node() { return work + "/node"; }

    // The emulator a block uses without starting it.
    void beginBlock(const sntest::DocExample& example) {
        bool startsNode = false;
        for (const std::string& line : example.lines)
            startsNode = startsNode || programOf(sntest::splitComment(line).command) == "snsim";
        if (!startsNode) {
            sim = std::make_unique<sntest::SimProcess>();
            ASSERT_TRUE(
                sim->start(BUILD_DIR "/sim/snsim", {"--link", node(), "--slave", "1,2,5"}, 10s));
        }
    }

    // The daemon a line reaches without the block starting it, started just
    // before that line: the lines before it may be the device's other
    // masters, which a daemon already holding the device would refuse.  An
    // exporter opens its targets only when probed, so it needs none.
    void startDaemonFor(const std::string& command) {
        if (daemonPort != 0 || command.find("1502") == std::string::npos ||
            command.find(" exporter ") != std::string::npos)
            return;
        daemon = std::make_unique<sntest::BusDaemonProcess>();
        ASSERT_TRUE(daemon->start(BUILD_DIR "/snbusd/snbusd", node()));
        daemonPort = daemon->port();
    }

    // The broker a line reaches, as a reader has it once Debian's mosquitto
    // is installed: started just before that line, for the rest of the
    // block (of the session, in the session).
    void startBrokerFor(const std::string& command) {
        if (brokerPort != 0 || command.find("1883") == std::string::npos) return;
        const uint16_t port = sntest::freeLoopbackPort();
        const std::string broker = "/usr/sbin/mosquitto -p " + std::to_string(port);
        startService(broker, " running\n", {}, true, Serves::Broker);
        ASSERT_FALSE(services.empty() || services.back().command != broker)
            << "no broker for " << command;
        brokerPort = port;
    }

    // Services end in the reverse order of their start; each must still
    // have been running, so one that died on the way is never missed.  In
    // a session a block's end stops only what it started in the foreground.
    void endBlock() {
        for (auto it = services.rbegin(); it != services.rend(); ++it) {
            if (session && it->background) continue;
            EXPECT_TRUE(it->process->running())
                << it->command << " ended early: " << it->process->errorsSoFar();
            it->process->signal(SIGTERM);
            it->process->wait(10s);
            if (it->serves == Serves::Daemon) daemonPort = 0;
            if (it->serves == Serves::Exporter) exporterPort = 0;
            if (it->serves == Serves::Broker) brokerPort = 0;
        }
        std::erase_if(services, [&](const Service& s) { return !(session && s.background); });
        if (session) return;
        if (daemon) daemon->signal(SIGTERM), daemon->wait(10s), daemon.reset();
        sim.reset();
        daemonPort = exporterPort = brokerPort = 0;
        fs::remove(node());
    }

    void endSession() {
        session = false;
        exports.clear();
        endBlock();
    }

    void runBlock(const sntest::DocExample& example) {
        SCOPED_TRACE(example.where);
        if (!session) {
            ASSERT_NO_FATAL_FAILURE(beginBlock(example));
        }
        for (const std::string& line : example.lines) {
            const sntest::ShellLine split = sntest::splitComment(line);
            if (split.command.empty()) continue;
            // What follows a package's install needs that package.
            if (split.command.rfind("sudo apt install ", 0) == 0) break;
            if (runsOnlyOnAUsersMachine(split.command)) continue;
            SCOPED_TRACE(line);
            if (split.command.rfind("export ", 0) == 0) {
                exports += localise(split.command) + "; ";
                continue;
            }
            ASSERT_NO_FATAL_FAILURE(startDaemonFor(split.command));
            ASSERT_NO_FATAL_FAILURE(startBrokerFor(split.command));
            ASSERT_NO_FATAL_FAILURE(runLine(localise(split.command), split.printed));
        }
        endBlock();
    }

    void runLine(std::string command, std::vector<std::string> printed) {
        for (std::string& text : printed) text = localise(text);
        const bool background = !command.empty() && command.back() == '&';
        if (background) command.resize(command.find_last_not_of(" &") + 1);
        const std::string program = programOf(command);
        if (program == "snterm")
            return runOnConsole(command, "Terminal for Modbus port", "\x04", "Normal exit");
        if (command.find(" -m serial.tools.miniterm ") != std::string::npos)
            return runOnConsole(command, "--- Miniterm on ", "\x1d", "--- exit ---");
        if (program == "snsim") {
            startService(command, "snsim ready on ", printed, background);
            return;
        }
        if (program == "snbusd") {
            if (command.find("--listen") == std::string::npos) command += " --listen 127.0.0.1:0";
            daemonPort = startService(command, "listening on 127.0.0.1:", printed, background,
                                      Serves::Daemon);
            return;
        }
        if (command.find(" bridge ") != std::string::npos) {
            const bool served = command.find(" --listen ") != std::string::npos;
            startService(command, served ? "listen: " : "pty: ", printed, background);
            return;
        }
        if (program == "snweb") {
            if (command.find("--listen") == std::string::npos) command += " --listen 127.0.0.1:0";
            startService(command, "snweb: open http://127.0.0.1:", printed, background);
            return;
        }
        if (program == "snmqtt") {
            startService(command, "snmqtt: connected to ", printed, background);
            return;
        }
        if (command.find(" exporter ") != std::string::npos) {
            if (command.find("--listen") == std::string::npos) command += " --listen 127.0.0.1:0";
            exporterPort =
                startService(command, "listen: 127.0.0.1:", printed, background, Serves::Exporter);
            return;
        }
        ASSERT_FALSE(background) << "a background example the test does not know";
        const RunResult run = sntest::runProgram(shell(command), 60s);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        for (const std::string& text : printed)
            EXPECT_NE(run.out.find(text), std::string::npos) << text << " not in " << run.out;
    }

    // Started, and ready once `ready` shows in its output; the number that
    // follows it, when there is one, is returned (a port).
    uint16_t startService(const std::string& command, const std::string& ready,
                          const std::vector<std::string>& printed, bool background,
                          Serves serves = Serves::Other) {
        auto process = std::make_unique<sntest::CapturedProcess>();
        std::vector<std::string> argv = environment();
        argv.push_back("cd " + work + " && " + exports + "exec " + command);
        EXPECT_TRUE(process->start(argv));
        std::string shown;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while ((shown = process->outputSoFar() + process->errorsSoFar()).find(ready) ==
               std::string::npos) {
            if (!process->running() || std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << command << " never showed '" << ready << "': " << shown;
                return 0;
            }
            std::this_thread::sleep_for(10ms);
        }
        for (const std::string& text : printed)
            EXPECT_NE(shown.find(text), std::string::npos) << text << " not in " << shown;
        const std::string after = shown.substr(shown.find(ready) + ready.size());
        services.push_back({command, std::move(process), background, serves});
        return static_cast<uint16_t>(std::atoi(after.c_str()));
    }

    // A terminal on a console, as typed: it must come up with its banner,
    // end at its key and say goodbye.
    void runOnConsole(const std::string& command, const std::string& banner,
                      const std::string& endKey, const std::string& farewell) {
        sntest::ConsoleProgram console;
        ASSERT_TRUE(console.ok());
        std::vector<std::string> argv = environment();
        const std::string path = argv.front();
        argv.erase(argv.begin());
        argv.push_back("cd " + work + " && " + exports + "exec " + command);
        ASSERT_TRUE(console.start(path, argv));
        ASSERT_TRUE(console.waitForOutput(banner, 10s)) << console.output();
        console.drainFor(300ms);
        console.type(endKey);
        const std::optional<int> status = console.waitForExit(10s);
        ASSERT_TRUE(status.has_value()) << console.output();
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << console.output();
        EXPECT_NE(console.output().find(farewell), std::string::npos) << console.output();
    }

    static inline std::string work;
    std::unique_ptr<sntest::SimProcess> sim;
    std::unique_ptr<sntest::BusDaemonProcess> daemon;
    std::vector<Service> services;
    bool session = false;  // the README and its pages: one reader's shell
    std::string exports;   // "export ...; " lines so far in the session
    uint16_t daemonPort = 0;
    uint16_t exporterPort = 0;
    uint16_t brokerPort = 0;
};

TEST_F(DocExamplesTest, ReadmeAndItsPagesRunInOrderAsInOneShell) {
    const std::vector<std::string> pages = readersPages();
    EXPECT_GE(pages.size(), 4u) << "the README's links to its pages were not found";
    std::size_t blocks = 0;
    session = true;
    for (const std::string& page : pages) {
        for (const sntest::DocExample& example : sntest::markdownExamples(page)) {
            if (example.language == "python") {
                std::ofstream(work + "/" + example.file) << [&] {
                    std::string text;
                    for (const std::string& line : example.lines) text += line + "\n";
                    return text;
                }();
            }
            if (example.language != "sh") continue;
            ++blocks;
            ASSERT_NO_FATAL_FAILURE(runBlock(example));
        }
    }
    endSession();
    EXPECT_GE(blocks, 12u) << "the shell examples were not found";
}

TEST_F(DocExamplesTest, ReadmeCExampleBuildsWithItsOwnCommandAndSwitchesPower) {
    std::size_t built = 0;
    for (const sntest::DocExample& example : sntest::markdownExamples(SOURCE_DIR "/README.md")) {
        if (example.language != "c") continue;
        SCOPED_TRACE(example.where);
        ASSERT_FALSE(example.buildCommand.empty()) << "no `cc ...` before the C example";
        const std::string source =
            example.buildCommand.substr(3, example.buildCommand.find(' ', 3) - 3);
        std::string text;
        for (const std::string& line : example.lines) text += line + "\n";
        // The node as the examples before it leave it: behind the daemon.
        ASSERT_NO_FATAL_FAILURE(beginBlock({example.where, "sh", {}, "", ""}));
        ASSERT_NO_FATAL_FAILURE(startDaemonFor(text));
        std::ofstream(work + "/" + source) << localise(text);
        const RunResult build = sntest::runProgram(shell(example.buildCommand), 60s);
        ASSERT_EQ(build.status, 0) << build.out << build.err;
        const RunResult run = sntest::runProgram(shell("./a.out"), 20s);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        const RunResult state =
            sntest::runProgram(shell(localise("snctl -p tcp:127.0.0.1:1502 power 3")));
        EXPECT_EQ(state.out, "output: 3\nstate: on\n") << state.err;
        endBlock();
        ++built;
    }
    EXPECT_EQ(built, 1u);
}

TEST_F(DocExamplesTest, ManPageExamplesRunAsWritten) {
    for (const char* page : {"snctl.1", "snterm.1", "snsim.1", "snbusd.1", "snmqtt.1"}) {
        const sntest::DocExample example =
            sntest::manPageExamples(std::string(SOURCE_DIR "/man/") + page);
        EXPECT_FALSE(example.lines.empty()) << page << " has no EXAMPLES";
        ASSERT_NO_FATAL_FAILURE(runBlock(example));
    }
}

TEST(DocExampleReading, CommentsQuotesAndRoffEscapes) {
    const sntest::ShellLine line =
        sntest::splitComment("a 'x # y' \"#\" b   # prints \"one\" and \"two #\"");
    EXPECT_EQ(line.command, "a 'x # y' \"#\" b");
    EXPECT_EQ(line.printed, (std::vector<std::string>{"one", "two #"}));
    EXPECT_EQ(sntest::splitComment("curl 'http://h/p?a#b'").command, "curl 'http://h/p?a#b'");
    EXPECT_TRUE(sntest::splitComment("x  # on 127.0.0.1:9740").printed.empty());

    char path[] = "/tmp/snlib-man-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::ofstream(path)
        << ".SH EXAMPLES\n.nf\nsnctl \\-p x port 1 send 'AT\\er\\en' \\e\n"
           "  && true\n.fi\nprose, no example\n.SH SEE ALSO\n.nf\nnot an example\n.fi\n";
    const sntest::DocExample example = sntest::manPageExamples(path);
    fs::remove(path);
    EXPECT_EQ(example.lines,
              (std::vector<std::string>{"snctl -p x port 1 send 'AT\\r\\n' && true"}));
}

}  // namespace
