// The snsim program: ready line, serving, SIGTERM, bad arguments.
#include "capturedProcess.h"
#include "simClient.h"
#include "simProcess.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>

using namespace simtest;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> snsimWith(const std::vector<std::string>& args) {
    std::vector<std::string> argv{SNSIM_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

// Exit status, or 128 + signal when a signal ended it.
int exitCodeOf(std::optional<int> status) {
    if (!status) return -1;
    return WIFEXITED(*status) ? WEXITSTATUS(*status) : 128 + WTERMSIG(*status);
}

}  // namespace

TEST(Executable, PrintsReadyServesAndExitsCleanlyOnSigterm) {
    const std::string link = "/tmp/snsim-exe-test-" + std::to_string(getpid());
    const std::string inst = link + "-p1";
    sntest::SimProcess p;
    ASSERT_TRUE(p.start(
        SNSIM_EXE, {"--link", link, "--slave", "1,7", "--port1", "pty:" + inst, "--port2", "none"},
        5s));
    EXPECT_EQ(p.output(), "port 1 instrument on " + inst + "\nsnsim ready on " + link + "\n");
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    {
        Client c(link, 7);
        ASSERT_TRUE(c.ok());
        EXPECT_GE(c.readReg(15), 0);
    }
    ASSERT_TRUE(p.stop(3s));
    EXPECT_EQ(exitCodeOf(p.exitStatus()), 0);
    EXPECT_NE(lstat(link.c_str(), &st), 0);
    EXPECT_NE(lstat(inst.c_str(), &st), 0);
}

TEST(Executable, ReadyLineNamesThePtsWithoutLinkAndSigintEnds) {
    sntest::SimProcess p;
    ASSERT_TRUE(p.start(SNSIM_EXE, {"--line-timing", "--baud", "38400"}, 5s));
    ASSERT_EQ(p.output(), "snsim ready on " + p.device() + "\n");
    ASSERT_EQ(p.device().rfind("/dev/pts/", 0), 0u) << p.device();
    {
        Client c(p.device());
        EXPECT_GE(c.readReg(16), 0);
    }
    p.signal(SIGINT);
    EXPECT_EQ(exitCodeOf(p.wait(3s)), 0);
}

// A second emulator on a link in use is refused and changes nothing: the
// first keeps its link, and SIGHUP ends it as cleanly as SIGTERM.
TEST(Executable, ALinkInUseIsRefusedAndSighupEndsCleanly) {
    const std::string link = "/tmp/snsim-exe-test-taken-" + std::to_string(getpid());
    sntest::SimProcess first;
    ASSERT_TRUE(first.start(SNSIM_EXE, {"--link", link}, 5s));
    const std::string device = fs::read_symlink(link).string();
    const sntest::RunResult second = sntest::runProgram(snsimWith({"--link", link}), 5s);
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.err, "snsim: cannot make the link " + link + ": it is a link to " + device +
                              ", which is in use: File exists\n");
    EXPECT_EQ(second.out, "");
    {
        Client c(link);
        EXPECT_GE(c.readReg(15), 0) << "the first emulator lost its link";
    }
    first.signal(SIGHUP);
    EXPECT_EQ(exitCodeOf(first.wait(3s)), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

// A command that ignores the polite signals still goes when snsim ends,
// with everything it started.
TEST(Executable, CommandsEndWithTheEmulatorEvenWhenTheyIgnoreSignals) {
    const std::string marker = "/tmp/snsim-exe-test-child-" + std::to_string(getpid());
    sntest::SimProcess p;
    ASSERT_TRUE(p.start(
        SNSIM_EXE,
        {"--port0", "exec:trap '' HUP TERM INT; sleep 1000 & echo $! >" + marker + "; wait; wait"},
        5s));
    std::string child;
    for (int i = 0; i < 300 && child.empty(); ++i) {
        std::this_thread::sleep_for(10ms);
        std::ifstream(marker) >> child;
    }
    ASSERT_FALSE(child.empty());
    ASSERT_TRUE(p.stop(5s));
    EXPECT_EQ(exitCodeOf(p.exitStatus()), 0);
    std::this_thread::sleep_for(100ms);
    std::string pid, name, state;
    std::ifstream("/proc/" + child + "/stat") >> pid >> name >> state;
    EXPECT_TRUE(state.empty() || state == "Z") << "left running: " << child << " " << state;
    fs::remove(marker);
}

TEST(Executable, BadArgumentsExitWithStatus2AndOneLine) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--slave", "0"},
             {"--slave", "1,x"},
             {"--port1", "serial"},
             {"--bogus"},
             {"--link"},
             {"--baud", "-5"},
             {"--link", "/tmp/same", "--port0", "pty:/tmp/same"}}) {
        const sntest::RunResult run = sntest::runProgram(snsimWith(args), 3s);
        EXPECT_EQ(run.status, 2) << args[0];
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    const sntest::RunResult version = sntest::runProgram(snsimWith({"--version"}), 3s);
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(
        std::regex_match(version.out, std::regex("snsim \\(snLib\\) [0-9]+\\.[0-9]+\\.[0-9]+\n")))
        << version.out;
    const sntest::RunResult help = sntest::runProgram(snsimWith({"--help"}), 3s);
    EXPECT_NE(help.out.find("usage"), std::string::npos);
    EXPECT_EQ(help.status, 0);
}
